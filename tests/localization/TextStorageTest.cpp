#include "localization/TextStorage.h"

#include <gtest/gtest.h>

using namespace sdm;

TEST(TextStorage, MainListKeepsItsTwentyTwoLinesInPlaceAndAppendsTheRest) {
  const auto& lines = MainTextStorageLines();
  ASSERT_EQ(lines.size(), 75u);
  EXPECT_EQ(lines[1], "Empty picture list");
  EXPECT_EQ(lines[2], "File not found :");
  EXPECT_EQ(lines[10], "pictures");
  EXPECT_EQ(lines[19], "AVI Files");
  EXPECT_EQ(lines[21], "Ok");
  EXPECT_EQ(lines[22], "The output file must differ from the pictures, the soundtrack and the project file");
  EXPECT_EQ(lines[49], "frames");
  EXPECT_EQ(lines[50], "built with");
  EXPECT_EQ(lines[51], "All pictures");
  EXPECT_EQ(lines[56], "Cannot read");
  EXPECT_EQ(lines[65], "No picture in the folder :");
  EXPECT_EQ(lines[66], "AVI video");
  EXPECT_EQ(lines[71], "The video made so far is kept as");
  EXPECT_EQ(lines[72], "Sound files");
  EXPECT_EQ(lines[74], "Encoding the soundtrack to MP3");
  // Language files separate the lines by line breaks: a text with one would
  // shift every later line.
  for (const std::string& l : lines) EXPECT_EQ(l.find_first_of("\r\n"), std::string::npos) << l;
  EXPECT_EQ(main_ts().Name(), "main_ts");
  EXPECT_EQ(main_ts().Translate("MP3 files"), "MP3 files");
}

TEST(TextStorage, TranslateLooksUpWithoutCaseAndFallsBackToTheEnglish) {
  TTextStorage ts("main_ts", MainTextStorageLines());
  std::vector<std::string> french = MainTextStorageLines();
  french[1] = "Liste d'images vide";
  french[3] = "unused";
  french[10] = "images";
  ts.SetItems(french);
  EXPECT_EQ(ts.Translate("empty picture list"), "Liste d'images vide");
  EXPECT_EQ(ts.Translate("EMPTY PICTURE LIST"), "Liste d'images vide");
  EXPECT_EQ(ts.Translate("Invalid output file"), "Invalid output file") << "\"unused\" gives the English";
  EXPECT_EQ(ts.Translate("Not in the list"), "Not in the list");
  EXPECT_EQ(ts.Translate(""), "");
  EXPECT_EQ(ts.English()[1], "Empty picture list") << "the English copy is never translated";

  // A shorter list translates the first lines; the rest keep their last text.
  ts.ApplyItems({"Musique trop courte", "Liste vide"});
  EXPECT_EQ(ts.Translate("Empty picture list"), "Liste vide");
  EXPECT_EQ(ts.Translate("pictures"), "images");
  // Even a wholesale replacement by a short list leaves later lookups safe.
  ts.SetItems({"only one"});
  EXPECT_EQ(ts.Translate("AVI Files"), "AVI Files");
  ts.Reset();
  EXPECT_EQ(ts.Translate("pictures"), "pictures");
}
