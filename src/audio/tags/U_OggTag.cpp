#include "audio/tags/U_OggTag.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <cstring>

#include "audio/AudioFileStream.h"
#include "audio/tags/TagText.h"

namespace sdm {

namespace {

constexpr long kBlock = 4096;

// The libraries' states, released on every way out.
struct OggState {
  ogg_sync_state sync{};
  ogg_stream_state in{};
  ogg_stream_state out{};
  vorbis_info info{};
  vorbis_comment comment{};
  bool inInit = false, outInit = false;
  OggState() {
    ogg_sync_init(&sync);
    vorbis_info_init(&info);
    vorbis_comment_init(&comment);
  }
  ~OggState() {
    if (inInit) ogg_stream_clear(&in);
    if (outInit) ogg_stream_clear(&out);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    ogg_sync_clear(&sync);
  }
};

void PutLE32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A comment header laid out as Vorbis I has it: type 3, "vorbis", vendor,
// the comments with their lengths, and the framing bit.
std::string BuildCommentPacket(const std::string& vendor, const TTagLines& lines) {
  std::string p = "\x03vorbis";
  PutLE32(p, static_cast<uint32_t>(vendor.size()));
  p += vendor;
  uint32_t count = 0;
  for (const auto& l : lines) count += l.empty() ? 0 : 1;
  PutLE32(p, count);
  for (const auto& l : lines) {
    if (l.empty()) continue;
    PutLE32(p, static_cast<uint32_t>(l.size()));
    p += l;
  }
  p += '\x01';
  return p;
}

void AppendPage(std::string& out, const ogg_page& page) {
  out.append(reinterpret_cast<const char*>(page.header), static_cast<size_t>(page.header_len));
  out.append(reinterpret_cast<const char*>(page.body), static_cast<size_t>(page.body_len));
}

struct Source {
  TWFileStream* stream = nullptr;     // fed block by block...
  const std::string* data = nullptr;  // ...or from memory
  size_t offset = 0;
  // Feeds the next 4096 bytes into the sync layer; false at the end.
  bool Feed(ogg_sync_state& sync) {
    char* buf = ogg_sync_buffer(&sync, kBlock);
    if (!buf) return false;
    long n = 0;
    if (stream) {
      n = static_cast<long>(stream->Read(buf, kBlock));
    } else {
      n = static_cast<long>(std::min<size_t>(kBlock, data->size() - offset));
      std::memcpy(buf, data->data() + offset, static_cast<size_t>(n));
      offset += static_cast<size_t>(n);
    }
    ogg_sync_wrote(&sync, n);
    return n > 0;
  }
};

// Walks the file's pages. Reads the three Vorbis headers of the first logical
// stream into the caller's fields; when `rewritten` is given, also builds the
// whole new file there with `newLines` as the comments.
bool Walk(Source src, int& serial, std::string& vendor, TTagLines& lines, const TTagLines* newLines,
          std::string* rewritten, std::string* problem = nullptr) {
  // A rewrite must carry every byte of sound over: where it cannot (a page
  // that fails its check, bytes that are no page, a packet missing), the
  // file is left as it is rather than rewritten without them.
  auto refuse = [&](const std::string& why) {
    if (problem) *problem = why;
    return false;
  };
  OggState st;
  ogg_page page;
  int headers = 0;
  bool ended = false;
  std::string ident, setup;
  ogg_int64_t packetNo = 0;
  bool first = true;
  int fed = 0;
  ogg_page outPage;
  for (;;) {
    int r = ogg_sync_pageout(&st.sync, &page);
    if (r < 0) {
      // Bytes that are no page (or a page whose checksum fails): reading
      // skips them, a rewrite would lose them.
      if (rewritten) return refuse("a page of it is damaged (its checksum fails, or its bytes are no page)");
      continue;
    }
    if (r == 0) {
      // The first page must lie in the first block: anything else is no Ogg file.
      if (first && fed > 0) return false;
      if (!src.Feed(st.sync)) {
        // Bytes after the last page that make no page would be dropped.
        if (rewritten && st.sync.fill > st.sync.returned)
          return refuse("it ends in " + std::to_string(st.sync.fill - st.sync.returned) + " bytes that are no page");
        break;
      }
      ++fed;
      continue;
    }
    if (first) {
      first = false;
      serial = ogg_page_serialno(&page);
      if (ogg_stream_init(&st.in, serial) != 0) return false;
      st.inInit = true;
    }
    if (ogg_page_serialno(&page) != serial || ended) {
      // Pages of other logical streams (or a chained stream after ours)
      // travel unchanged.
      if (!rewritten) continue;
      AppendPage(*rewritten, page);
      continue;
    }
    if (ogg_stream_pagein(&st.in, &page) != 0) return false;
    ogg_packet op;
    bool added = false;
    for (int got; (got = ogg_stream_packetout(&st.in, &op)) != 0;) {
      if (got < 0) {
        if (rewritten) return refuse("a page of it is missing (the pages do not follow one another)");
        continue;
      }
      if (headers < 3) {
        if (vorbis_synthesis_headerin(&st.info, &st.comment, &op) != 0) return false;
        std::string bytes(reinterpret_cast<const char*>(op.packet), static_cast<size_t>(op.bytes));
        if (headers == 0) ident = bytes;
        if (headers == 2) setup = bytes;
        if (++headers == 3) {
          vendor = st.comment.vendor ? st.comment.vendor : "";
          for (int i = 0; i < st.comment.comments; ++i)
            lines.push_back(tagtext::BytesToText(reinterpret_cast<const uint8_t*>(st.comment.user_comments[i]),
                                                 static_cast<size_t>(st.comment.comment_lengths[i])));
          if (!rewritten) return true;
          if (ogg_stream_init(&st.out, serial) != 0) return false;
          st.outInit = true;
          std::string comment = BuildCommentPacket(vendor, *newLines);
          const std::string* packets[3] = {&ident, &comment, &setup};
          for (int k = 0; k < 3; ++k) {
            ogg_packet hp{};
            hp.packet = reinterpret_cast<unsigned char*>(const_cast<char*>(packets[k]->data()));
            hp.bytes = static_cast<long>(packets[k]->size());
            hp.b_o_s = k == 0;
            hp.granulepos = 0;
            hp.packetno = packetNo++;
            ogg_stream_packetin(&st.out, &hp);
          }
          // The headers end their own pages; audio starts on a fresh one.
          while (ogg_stream_flush(&st.out, &outPage) != 0) AppendPage(*rewritten, outPage);
        }
        continue;
      }
      op.packetno = packetNo++;
      ogg_stream_packetin(&st.out, &op);
      added = true;
    }
    if (added) {
      // Close a page where the old one closed, so granule positions stay:
      // a page on which packets end must carry the position of the last, and
      // the last page's position trims the stream's end. A plain flush would
      // cut the page after 4 KiB and leave the first part without one.
      while (ogg_stream_flush_fill(&st.out, &outPage, 1 << 30) != 0) AppendPage(*rewritten, outPage);
    }
    if (ogg_page_eos(&page)) ended = true;
  }
  return headers == 3 && rewritten != nullptr;
}

}  // namespace

TOggTag::TOggTag() = default;
TOggTag::~TOggTag() = default;

bool TOggTag::ReadFromFile(const std::string& fileName) {
  FileName = fileName;
  Values.clear();
  Vendor.clear();
  try {
    TWFileStream s(fileName, TWFileStream::ModeRead);
    Source src;
    src.stream = &s;
    TTagLines lines;
    if (!Walk(src, Serial, Vendor, lines, nullptr, nullptr)) return false;
    Values = lines;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TOggTag::Rewrite(const TTagLines& newLines) {
  try {
    TWFileStream s(FileName, TWFileStream::ModeRewrite);
    std::string old = tagtext::ReadWholeFile(s);
    Source src;
    src.data = &old;
    std::string content;
    content.reserve(old.size() + 32000);
    TTagLines lines;
    std::string vendor;
    int serial = 0;
    Problem.clear();
    if (!Walk(src, serial, vendor, lines, &newLines, &content, &Problem)) return false;
    tagtext::RewriteFile(s, old, content);
    Vendor = vendor;
    Serial = serial;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TOggTag::WriteToFile() { return Rewrite(Values); }
bool TOggTag::RemoveFromFile() { return Rewrite({}); }

}  // namespace sdm
