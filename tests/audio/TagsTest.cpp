// Tags: ID3v1, ID3v2, APEv2 and Vorbis comments read from hand-built bytes,
// written files read back by ffprobe, and the audio left byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "AudioTestUtil.h"
#include "audio/U_AudioBase.h"
#include "audio/tags/U_ApeTag.h"
#include "audio/tags/U_ID3.h"
#include "audio/tags/U_OggTag.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

namespace {

std::string Frame(const std::string& id, const std::string& body) {
  std::string f = id;
  uint32_t n = static_cast<uint32_t>(body.size());
  f += static_cast<char>(n >> 24);
  f += static_cast<char>(n >> 16);
  f += static_cast<char>(n >> 8);
  f += static_cast<char>(n);
  return f + std::string(2, '\0') + body;
}

std::string Id3v2(uint8_t major, const std::string& frames, uint8_t flags = 0, int64_t declared = -1) {
  int64_t size = declared >= 0 ? declared : static_cast<int64_t>(frames.size());
  std::string t = "ID3";
  t += static_cast<char>(major);
  t += '\0';
  t += static_cast<char>(flags);
  for (int shift = 21; shift >= 0; shift -= 7) t += static_cast<char>((size >> shift) & 0x7F);
  return t + frames;
}

std::string V1Block(const std::string& title, uint8_t b125, uint8_t b126, uint8_t genre) {
  std::string b(128, '\0');
  std::memcpy(&b[0], "TAG", 3);
  std::memcpy(&b[3], title.data(), title.size());
  std::memset(&b[97], 'c', 28);  // 28 comment characters
  b[125] = static_cast<char>(b125);
  b[126] = static_cast<char>(b126);
  b[127] = static_cast<char>(genre);
  return b;
}

// ffprobe's view of one format tag, or "" when it has none.
std::string Probe(const std::string& path, const std::string& key, const std::string& where = "format_tags") {
  auto r = RunCommand({"ffprobe", "-v", "error", "-show_entries", where + "=" + key, "-of",
                       "default=noprint_wrappers=1:nokey=1", path});
  std::string out = r.out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::string MakeMp3(const TempDir& dir, const std::string& name) {
  std::string wav = dir.file(name + ".wav"), mp3 = dir.file(name);
  std::string pcm;
  for (int i = 0; i < 44100; ++i) PutLE(pcm, static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(i * 0.05))), 2);
  WriteBytes(wav, Bytes(PcmWav(1, 44100, 16, pcm)));
  auto r = RunCommand({"lame", "--quiet", "-b", "64", wav, mp3});
  EXPECT_EQ(r.status, 0) << r.err;
  return mp3;
}

}  // namespace

TEST(Id3v1, ReadsVersionsGenresAndTrimmedFields) {
  TId3V1Tag t;
  auto b = V1Block("Title   ", 0, 7, 17);
  ASSERT_TRUE(t.ParseBlock(reinterpret_cast<const uint8_t*>(b.data())));
  EXPECT_EQ(t.Version, 2);
  EXPECT_EQ(FindTagValue(t.Values, "TITLE"), "Title");
  EXPECT_EQ(FindTagValue(t.Values, "COMMENTS"), std::string(28, 'c'));
  EXPECT_EQ(FindTagValue(t.Values, "TRACK"), "7");
  EXPECT_EQ(FindTagValue(t.Values, "GENRE"), "Rock");
  b = V1Block("x", 'z', 'z', 255);
  t.ParseBlock(reinterpret_cast<const uint8_t*>(b.data()));
  EXPECT_EQ(t.Version, 1);
  EXPECT_EQ(FindTagValue(t.Values, "GENRE"), "255");
  bool found = true;
  FindTagValue(t.Values, "TRACK", &found);
  EXPECT_FALSE(found);
  EXPECT_EQ(FindTagValue(t.Values, "COMMENTS").size(), 30u);  // 28 'c', then 'z','z'

  EXPECT_STREQ(Id3GenreName(0), "Blues");
  EXPECT_STREQ(Id3GenreName(147), "Synthpop");
  EXPECT_STREQ(Id3GenreName(40), "Alt. Rock");
  EXPECT_STREQ(Id3GenreName(59), "Gangsta Rap");
  EXPECT_STREQ(Id3GenreName(67), "Psychedelic");
  EXPECT_STREQ(Id3GenreName(81), "Folk/Rock");
  EXPECT_STREQ(Id3GenreName(84), "Fast-Fusion");
  EXPECT_STREQ(Id3GenreName(123), "A Cappella");
  EXPECT_STREQ(Id3GenreName(80), "Folk");
  EXPECT_EQ(Id3GenreName(148), nullptr);
}

TEST(Id3v1, WritesGenreNumbersTracksAndPadding) {
  auto block = [](TTagLines v) {
    TId3V1Tag t;
    t.Values = v;
    return t.BuildBlock();
  };
  EXPECT_EQ(static_cast<uint8_t>(block({"GENRE=rock"})[127]), 17);
  EXPECT_EQ(static_cast<uint8_t>(block({"GENRE=Nonsense"})[127]), 255);
  EXPECT_EQ(static_cast<uint8_t>(block({"GENRE=300"})[127]), 44);
  EXPECT_EQ(static_cast<uint8_t>(block({})[127]), 255);
  std::string b = block({"title=" + std::string(40, 'T'), "TRACK=9", "COMMENTS=hi", "year=2024"});
  EXPECT_EQ(b.substr(0, 3), "TAG");
  EXPECT_EQ(b.substr(3, 30), std::string(30, 'T'));
  EXPECT_EQ(b.substr(33, 30), std::string(30, ' '));
  EXPECT_EQ(b.substr(93, 4), "2024");
  EXPECT_EQ(b[125], '\0');
  EXPECT_EQ(b[126], 9);
  EXPECT_EQ(b.substr(97, 3), "hi ");
  EXPECT_EQ(block({"TRACK=0"})[125], ' ');  // no track: a 30-byte comment
}

TEST(Id3v1, WriteInPlaceOrAppendRemoveAndShortFiles) {
  TempDir dir;
  std::string path = dir.file("a.mp3");
  WriteBytes(path, Bytes("audio"));
  TId3V1Tag t;
  EXPECT_FALSE(t.ReadFromFile(path));  // shorter than 128 bytes: no tag
  t.Values = {"TITLE=one"};
  EXPECT_TRUE(t.WriteToFile());
  EXPECT_EQ(ReadBytes(path).size(), 5u + 128);
  TId3V1Tag u;
  EXPECT_TRUE(u.ReadFromFile(path));
  EXPECT_TRUE(u.Present);
  u.Values = {"TITLE=two"};
  EXPECT_TRUE(u.WriteToFile());  // overwritten in place
  auto bytes = ReadBytes(path);
  EXPECT_EQ(bytes.size(), 5u + 128);
  TId3V1Tag v;
  v.ReadFromFile(path);
  EXPECT_EQ(FindTagValue(v.Values, "title"), "two");
  EXPECT_TRUE(v.RemoveFromFile());
  EXPECT_EQ(ReadBytes(path), Bytes("audio"));
  TId3V1Tag missing;
  EXPECT_FALSE(missing.ReadFromFile(dir.file("none.mp3")));
  missing.FileName = dir.file("none.mp3");
  EXPECT_FALSE(missing.WriteToFile());
  EXPECT_THROW(missing.RemoveFromFile(), EFOpenError);
}

TEST(Id3v2, FrameTablesEncodingsAndSharedNames) {
  TId3V2Tag t;
  std::string frames = Frame("TIT2", std::string("\x00", 1) + "A") + Frame("TOAL", std::string("\x00", 1) + "B") +
                       Frame("TPE1", std::string("\x03", 1) + "Caf\xC3\xA9" + std::string(3, '\0')) +
                       Frame("TALB", std::string("\x01\xFF\xFE", 3) + std::string("a\0b\0\0\0z\0", 8)) +
                       Frame("APIC", std::string(20, 'p')) + Frame("TCON", std::string("\x00", 1)) +
                       Frame("WOAR", "http://x") +
                       Frame("COMM", std::string("\x00", 1) + "eng" + "desc" + std::string("\x00", 1) + "note") +
                       Frame("TXXX", std::string("\x01", 1) + std::string("d\0\0\0v\0a\0", 8)) +
                       Frame("WXXX", std::string("\x01", 1) + std::string("d\0\0\0", 4) + "http://u");
  t.ParseFrames(reinterpret_cast<const uint8_t*>(frames.data()), frames.size(), 4);
  TTagLines want = {"TITLE=A",       "TITLE=B", "ARTIST=Café", "ALBUM=ab", "ARTISTWEB=http://x",
                    "COMMENTS=note", "USER=va", "WEB=http://u"};
  EXPECT_EQ(t.Values, want);  // empty TCON and disabled APIC are left out
  EXPECT_EQ(FindTagValue(t.Values, "TITLE"), "A");

  // The parse stops at a frame that claims more than remains, and at "MP3".
  TId3V2Tag s;
  std::string cut = Frame("TIT2", std::string("\x00", 1) + "A");
  cut += "TALB" + std::string("\x7F\xFF\xFF\xFF", 4) + std::string(2, '\0') + "xx";
  s.ParseFrames(reinterpret_cast<const uint8_t*>(cut.data()), cut.size(), 3);
  EXPECT_EQ(s.Values, TTagLines{"TITLE=A"});
  TId3V2Tag m;
  std::string mp3 = Frame("MP3x", "zz") + Frame("TIT2", std::string("\x00", 1) + "A");
  m.ParseFrames(reinterpret_cast<const uint8_t*>(mp3.data()), mp3.size(), 3);
  EXPECT_TRUE(m.Values.empty());

  // Version 2.2: three-letter ids, 24-bit sizes, empty values kept.
  std::string v22 = std::string("TT2\0\0\x02", 6) + std::string("\x00", 1) + "T" + std::string("TCO\0\0\x01", 6) +
                    std::string("\x00", 1);
  TId3V2Tag o;
  o.ParseFrames(reinterpret_cast<const uint8_t*>(v22.data()), v22.size(), 2);
  EXPECT_EQ(o.Values, (TTagLines{"TITLE=T", "GENRE="}));
}

TEST(Id3v2, HeadersExtendedHeadersAndLyingSizes) {
  TempDir dir;
  std::string path = dir.file("x.mp3");
  // An extended header before the frames: the parser does not interpret it.
  std::string ext = std::string("\0\0\0\x06\0\0", 6) + Frame("TIT2", std::string("\x00", 1) + "A");
  WriteBytes(path, Bytes(Id3v2(3, ext, 0x40) + "audio"));
  TId3V2Tag t;
  EXPECT_TRUE(t.ReadFromFile(path));
  EXPECT_TRUE(t.Values.empty());
  // A declared size far past the end: read as far as the file goes.
  WriteBytes(path, Bytes(Id3v2(3, Frame("TIT2", std::string("\x00", 1) + "A"), 0, 0x0FFFFFFF)));
  TId3V2Tag u;
  EXPECT_TRUE(u.ReadFromFile(path));
  EXPECT_EQ(u.TotalSize, 0x0FFFFFFF + 10);
  EXPECT_EQ(u.Values, TTagLines{"TITLE=A"});
  // Footer flag adds ten bytes; the size bytes' top bits are not masked.
  const uint8_t h[10] = {'I', 'D', '3', 4, 0, 0x10, 0, 0, 0x81, 0x01};
  EXPECT_EQ(Id3v2TotalSize(h), (0x81 << 7) + 1 + 20);
  // Reading from a stream restores its position.
  WriteBytes(path, Bytes("xx" + Id3v2(3, Frame("TIT2", std::string("\x00", 1) + "A"))));
  TWFileStream s(path, TWFileStream::ModeRead);
  s.SetPosition(2);
  TId3V2Tag v;
  EXPECT_TRUE(v.ReadFromStream(s));
  EXPECT_EQ(s.Position(), 2);
  s.SetPosition(0);
  EXPECT_FALSE(v.ReadFromStream(s));
  EXPECT_EQ(s.Position(), 0);
}

TEST(Id3v2, WrittenTagReadsBackInFfprobeAndKeepsTheAudio) {
  TempDir dir;
  std::string mp3 = MakeMp3(dir, "s.mp3");
  auto audio = ReadBytes(mp3);
  TId3V2Tag t;
  t.ReadFromFile(mp3);
  t.Values = {"TITLE=A", "TITLE=B", "ARTIST=Zoë", "COMMENTS=Nice one", "USER=extra", "WEB=http://w", "ALBUM=Ä"};
  ASSERT_TRUE(t.WriteToFile());
  EXPECT_EQ(Probe(mp3, "title"), "A");
  EXPECT_EQ(Probe(mp3, "artist"), "Zoë");
  EXPECT_EQ(Probe(mp3, "album"), "Ä");
  EXPECT_EQ(Probe(mp3, "Comments"), "Nice one");  // the description names it
  TId3V2Tag back;
  ASSERT_TRUE(back.ReadFromFile(mp3));
  EXPECT_EQ(back.MajorVersion, 3);
  // TIT1, TIT2 and TOAL all carry the first TITLE.
  EXPECT_EQ(back.Values, (TTagLines{"COMMENTS=Nice one", "ALBUM=Ä", "TITLE=A", "TITLE=A", "TITLE=A", "ARTIST=Zoë",
                                    "ARTIST=Zoë", "USER=extra", "WEB=http://w"}));
  auto now = ReadBytes(mp3);
  ASSERT_EQ(now.size(), audio.size() + back.TotalSize);
  EXPECT_TRUE(std::equal(audio.begin(), audio.end(), now.begin() + back.TotalSize));
  // Rewriting replaces the old tag rather than stacking a second one.
  back.Values = {"TITLE=C"};
  back.WriteToFile();
  TId3V2Tag again;
  again.ReadFromFile(mp3);
  now = ReadBytes(mp3);
  EXPECT_TRUE(std::equal(audio.begin(), audio.end(), now.begin() + again.TotalSize));
  EXPECT_EQ(now.size(), audio.size() + again.TotalSize);
  EXPECT_TRUE(again.RemoveFromFile());
  EXPECT_EQ(ReadBytes(mp3), audio);
}

TEST(ApeV2, SizeLimitPlacementAndFfprobe) {
  TempDir dir;
  std::string path = dir.file("a.mp3");
  auto itemsOf = [](size_t valueBytes) {
    TAPEV2Tag t;
    t.Values = {"Artist=" + std::string(valueBytes, 'v')};
    return t.BuildTag();
  };
  // One item is 8 + 7 ("Artist\0") + value bytes.
  WriteBytes(path, Bytes("audio" + itemsOf(999 - 15)));
  TAPEV2Tag t;
  EXPECT_TRUE(t.ReadFromFile(path));
  EXPECT_EQ(t.ItemsSize, 999);
  EXPECT_EQ(FindTagValue(t.Values, "artist").size(), 999u - 15);
  WriteBytes(path, Bytes("audio" + itemsOf(1000 - 15)));
  EXPECT_FALSE(t.ReadFromFile(path));
  EXPECT_TRUE(t.Values.empty());

  // Written before an ID3v1 block, which stays the last 128 bytes.
  std::string mp3 = MakeMp3(dir, "s.mp3");
  TId3V1Tag v1;
  v1.ReadFromFile(mp3);
  v1.Values = {"TITLE=v1"};
  v1.WriteToFile();
  auto before = ReadBytes(mp3);
  TAPEV2Tag ape;
  EXPECT_FALSE(ape.ReadFromFile(mp3));
  EXPECT_TRUE(ape.Id3v1Present);
  ape.Values = {"Artist=Zoë", "Title=Über", "junk line"};
  EXPECT_TRUE(ape.WriteToFile());
  auto after = ReadBytes(mp3);
  ASSERT_GT(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.end() - 128, before.end(), after.end() - 128));
  EXPECT_TRUE(std::equal(before.begin(), before.end() - 128, after.begin()));
  TAPEV2Tag back;
  EXPECT_TRUE(back.ReadFromFile(mp3));
  EXPECT_EQ(back.Values, (TTagLines{"Artist=Zoë", "Title=Über"}));
  // Replaced in place on a second write, removed cleanly.
  back.Values = {"Artist=X"};
  back.WriteToFile();
  TAPEV2Tag third;
  third.ReadFromFile(mp3);
  EXPECT_EQ(third.Values, TTagLines{"Artist=X"});
  EXPECT_TRUE(third.RemoveFromFile());
  EXPECT_EQ(ReadBytes(mp3), before);

  // ffprobe reads APEv2 from WavPack files: the tag must be found there and
  // the audio decode the same as before.
  std::string wv = dir.file("p.wv");
  ASSERT_EQ(RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=duration=1", "-c:a", "wavpack", wv}).status,
            0);
  auto md5 = [&] { return RunCommand({"ffmpeg", "-v", "error", "-i", wv, "-f", "md5", "-"}).out; };
  std::string audio = md5();
  TAPEV2Tag p;
  p.ReadFromFile(wv);
  p.Values = {"Artist=Zoë", "Title=Über"};
  p.WriteToFile();
  EXPECT_EQ(Probe(wv, "Artist"), "Zoë");
  EXPECT_EQ(Probe(wv, "Title"), "Über");
  EXPECT_EQ(md5(), audio);
}

TEST(ApeV2, HostileItemsEndTheReading) {
  TempDir dir;
  std::string path = dir.file("h.ape");
  std::string items;
  PutLE(items, 0xFFFFFFF0u, 4);  // value size past the tag
  PutLE(items, 0, 4);
  items += "Key";
  items += '\0';
  items += "v";
  std::string footer = "APETAGEX";
  PutLE(footer, 2000, 4);
  PutLE(footer, items.size() + 32, 4);
  PutLE(footer, 1, 4);
  PutLE(footer, 0x80000000u, 4);  // claims a header that is not there
  footer += std::string(8, '\0');
  WriteBytes(path, Bytes(items + footer));
  TAPEV2Tag t;
  EXPECT_TRUE(t.ReadFromFile(path));
  EXPECT_TRUE(t.Values.empty());
  EXPECT_TRUE(t.RemoveFromFile());
  EXPECT_TRUE(ReadBytes(path).empty());
}

TEST(OggTag, RewritesCommentsAndKeepsTheAudio) {
  TempDir dir;
  std::string ogg = dir.file("v.ogg");
  auto r = RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-c:a",
                       "libvorbis", "-metadata", "title=Old", ogg});
  ASSERT_EQ(r.status, 0) << r.err;
  auto md5 = [&] { return RunCommand({"ffmpeg", "-v", "error", "-i", ogg, "-f", "md5", "-"}).out; };
  std::string audio = md5();
  TOggTag t;
  ASSERT_TRUE(t.ReadFromFile(ogg));
  EXPECT_EQ(FindTagValue(t.Values, "title"), "Old");
  EXPECT_FALSE(t.Vendor.empty());
  t.Values = {"TITLE=Nouveau été", "ARTIST=" + std::string(70000, 'a'), ""};  // a comment page larger than 64 KiB
  ASSERT_TRUE(t.WriteToFile());
  EXPECT_EQ(Probe(ogg, "title", "stream_tags"), "Nouveau été");
  EXPECT_EQ(md5(), audio);
  TOggTag back;
  ASSERT_TRUE(back.ReadFromFile(ogg));
  EXPECT_EQ(back.Values.size(), 2u);
  EXPECT_EQ(back.Values[0], "TITLE=Nouveau été");
  ASSERT_TRUE(back.RemoveFromFile());
  TOggTag none;
  ASSERT_TRUE(none.ReadFromFile(ogg));
  EXPECT_TRUE(none.Values.empty());
  EXPECT_EQ(md5(), audio);

  // Not an Ogg file, or a missing one: false, file untouched, no exception.
  std::string junk = dir.file("j.ogg");
  WriteBytes(junk, Bytes(std::string(10000, 'j')));
  TOggTag j;
  EXPECT_FALSE(j.ReadFromFile(junk));
  EXPECT_FALSE(j.WriteToFile());
  EXPECT_EQ(ReadBytes(junk).size(), 10000u);
  TOggTag m;
  EXPECT_FALSE(m.ReadFromFile(dir.file("missing.ogg")));
}
