#include "project/ErrorText.h"

#include <gtest/gtest.h>

#include "avi/FileFailure.h"
#include "localization/TextStorage.h"

namespace sdm {
namespace {

TEST(ErrorText, OnlyTheLeadingWordsOfACauseAreTranslated) {
  TTextStorage storage("main_ts", {"Cannot read", "Cannot write", "Cannot load picture"});
  storage.SetItems({"Impossible de lire", "Impossible d'écrire", "Impossible de charger l'image"});

  const EFileFailure failure("FileOpen failed. Err: $8004406F", "U_BmpToAvi", 126, "/out/x.avi",
                             "No such file or directory");
  EXPECT_EQ(TranslatedCause(failure.what(), &storage),
            "Impossible d'écrire \"/out/x.avi\": No such file or directory\n"
            "FileOpen failed. Err: $8004406F (U_BmpToAvi, line 126)");
  const EFileFailure read("StreamRead failed. Err: $80044066", "U_MuxThd", 9, "/in/v.avi", "", TFileAccess::Read);
  EXPECT_EQ(read.Cause(), "Cannot read \"/in/v.avi\"");
  EXPECT_EQ(TranslatedCause(read.what(), &storage).substr(0, 31), "Impossible de lire \"/in/v.avi\"\n");
  EXPECT_EQ(TranslatedCause("Cannot load picture \"a.jpg\": not a JPEG file", &storage),
            "Impossible de charger l'image \"a.jpg\": not a JPEG file");

  // Anything else stays as it is: other texts, the words without a file
  // after them, and every text when there is no storage.
  for (const std::string text : {"No compressor for QQQQ available", "Cannot writes \"x\"", "Cannot write it", ""})
    EXPECT_EQ(TranslatedCause(text, &storage), text);
  EXPECT_EQ(TranslatedCause(failure.what(), nullptr), failure.what());
}

}  // namespace
}  // namespace sdm
