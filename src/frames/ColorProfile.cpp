#include "frames/ColorProfile.h"

#include <lcms2.h>

#include <bit>
#include <cmath>

#include "frames/PictureNotes.h"
#include "support/U_Log.h"

namespace sdm {

namespace {

static_assert(std::endian::native == std::endian::little, "TYPE_BGRA_8 matches 0xAARRGGBB on little-endian only");

// lcms reports trouble through the handler of a context; each transform has
// a context of its own, so threads never share the text of the last error.
struct TLcmsContext {
  cmsContext ctx = nullptr;
  std::string lastError;

  static void OnError(cmsContext c, cmsUInt32Number, const char* text) {
    auto* self = static_cast<TLcmsContext*>(cmsGetContextUserData(c));
    if (self && text) self->lastError = text;
  }
  TLcmsContext() {
    ctx = cmsCreateContext(nullptr, this);
    if (ctx) cmsSetLogErrorHandlerTHR(ctx, OnError);
  }
  ~TLcmsContext() {
    if (ctx) cmsDeleteContext(ctx);
  }
  TLcmsContext(const TLcmsContext&) = delete;
  TLcmsContext& operator=(const TLcmsContext&) = delete;
};

struct TProfile {
  cmsHPROFILE h = nullptr;
  explicit TProfile(cmsHPROFILE p) : h(p) {}
  ~TProfile() {
    if (h) cmsCloseProfile(h);
  }
  TProfile(const TProfile&) = delete;
  TProfile& operator=(const TProfile&) = delete;
};

// Whether a profile describes sRGB itself: the same primaries (as the
// profile states them, adapted to the D50 of every ICC profile) and a tone
// curve that gives back every 8-bit level. Cameras and phones embed sRGB
// profiles of their own making; converting through one would move a few
// levels by one for nothing, and cost a pass over every pixel.
bool DescribesSrgb(cmsHPROFILE p, cmsHPROFILE srgb) {
  if (cmsGetColorSpace(p) != cmsSigRgbData || !cmsIsMatrixShaper(p)) return false;
  // Table-based conversions take precedence over the matrix in lcms.
  for (cmsTagSignature lut : {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag, cmsSigDToB0Tag})
    if (cmsIsTag(p, lut)) return false;
  for (cmsTagSignature tag : {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
    const auto* a = static_cast<const cmsCIEXYZ*>(cmsReadTag(p, tag));
    const auto* b = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb, tag));
    if (!a || !b) return false;
    if (std::fabs(a->X - b->X) > 0.002 || std::fabs(a->Y - b->Y) > 0.002 || std::fabs(a->Z - b->Z) > 0.002)
      return false;
  }
  for (cmsTagSignature tag : {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag}) {
    const auto* a = static_cast<const cmsToneCurve*>(cmsReadTag(p, tag));
    const auto* b = static_cast<const cmsToneCurve*>(cmsReadTag(srgb, tag));
    if (!a || !b) return false;
    cmsToneCurve* back = cmsReverseToneCurve(b);
    if (!back) return false;
    bool same = true;
    for (int i = 0; i < 256 && same; ++i) {
      const float level = cmsEvalToneCurveFloat(back, cmsEvalToneCurveFloat(a, i / 255.0f)) * 255.0f;
      same = std::fabs(level - static_cast<float>(i)) < 0.5f;
    }
    cmsFreeToneCurve(back);
    if (!same) return false;
  }
  return true;
}

const char* ColourSpaceName(TColorModel model) {
  switch (model) {
    case TColorModel::Grey: return "grey";
    case TColorModel::Cmyk:
    case TColorModel::CmykInverted: return "CMYK";
    default: return "RGB";
  }
}

}  // namespace

struct TColorTransform::TState {
  TLcmsContext lcms;
  cmsHTRANSFORM transform = nullptr;
  TColorModel model = TColorModel::Rgb;
  ~TState() {
    if (transform) cmsDeleteTransform(transform);
  }
};

TColorTransform::TColorTransform(std::unique_ptr<TState> state) : state_(std::move(state)) {}

TColorTransform::~TColorTransform() = default;

std::unique_ptr<TColorTransform> TColorTransform::Create(const uint8_t* profile, size_t size, TColorModel model,
                                                         std::string& why) {
  why.clear();
  auto state = std::make_unique<TState>();
  state->model = model;
  const cmsContext ctx = state->lcms.ctx;
  if (!ctx) {
    why = "no colour management context";
    return nullptr;
  }
  auto lcmsSays = [&](const std::string& what) {
    why = what + (state->lcms.lastError.empty() ? "" : ": " + state->lcms.lastError);
    return nullptr;
  };
  if (size < 128 || size > 0xFFFFFFFFu) return lcmsSays("not an ICC profile");
  const TProfile in(cmsOpenProfileFromMemTHR(ctx, profile, static_cast<cmsUInt32Number>(size)));
  if (!in.h) return lcmsSays("unreadable profile");
  const cmsProfileClassSignature cls = cmsGetDeviceClass(in.h);
  if (cls == cmsSigLinkClass || cls == cmsSigAbstractClass || cls == cmsSigNamedColorClass) {
    why = "not a profile of pictures";
    return nullptr;
  }
  cmsUInt32Number inFormat = 0;
  cmsColorSpaceSignature wanted = cmsSigRgbData;
  switch (model) {
    case TColorModel::Rgb: inFormat = TYPE_BGRA_8; break;
    case TColorModel::Grey:
      inFormat = TYPE_GRAY_8;
      wanted = cmsSigGrayData;
      break;
    case TColorModel::Cmyk:
      inFormat = TYPE_CMYK_8;
      wanted = cmsSigCmykData;
      break;
    case TColorModel::CmykInverted:
      inFormat = TYPE_CMYK_8_REV;
      wanted = cmsSigCmykData;
      break;
  }
  if (cmsGetColorSpace(in.h) != wanted) {
    why = std::string("the profile is not for a picture in ") + ColourSpaceName(model);
    return nullptr;
  }
  const TProfile srgb(cmsCreate_sRGBProfileTHR(ctx));
  if (!srgb.h) return lcmsSays("no sRGB profile");
  if (model == TColorModel::Rgb && DescribesSrgb(in.h, srgb.h)) return nullptr;
  // The profile's tags are read only now, so a profile with a sound header
  // and garbled tags is found out here.
  state->transform = cmsCreateTransformTHR(ctx, in.h, inFormat, srgb.h, TYPE_BGRA_8, INTENT_PERCEPTUAL,
                                           model == TColorModel::Rgb ? cmsFLAGS_COPY_ALPHA : 0);
  if (!state->transform) return lcmsSays("unusable profile");
  return std::unique_ptr<TColorTransform>(new TColorTransform(std::move(state)));
}

void TColorTransform::Apply(TColor32* pixels, size_t count) const {
  if (count == 0) return;
  const cmsUInt32Number n = static_cast<cmsUInt32Number>(count);
  switch (state_->model) {
    case TColorModel::Rgb: cmsDoTransform(state_->transform, pixels, pixels, n); break;
    case TColorModel::Grey: {
      // One byte of grey in, four bytes of colour out; the alpha byte is
      // left as it was.
      std::vector<uint8_t> grey(count);
      for (size_t i = 0; i < count; ++i) grey[i] = BlueOf(pixels[i]);
      cmsDoTransform(state_->transform, grey.data(), pixels, n);
      break;
    }
    case TColorModel::Cmyk:
    case TColorModel::CmykInverted:
      // Four bytes in, four out, in place; the fourth out is not written.
      cmsDoTransform(state_->transform, pixels, pixels, n);
      for (size_t i = 0; i < count; ++i) pixels[i] |= 0xFF000000u;
      break;
  }
}

std::unique_ptr<TColorTransform> ProfileTransform(const std::vector<uint8_t>& profile, TColorModel model,
                                                  const std::string& fileName) {
  if (profile.empty()) return nullptr;
  std::string why;
  auto t = TColorTransform::Create(profile.data(), profile.size(), model, why);
  if (!t && !why.empty()) PictureNote("Colour profile ignored : " + fileName + " (" + why + ")", llError);
  return t;
}

void ConvertToSrgb(TBitmap32& bitmap, const std::vector<uint8_t>& profile, TColorModel model,
                   const std::string& fileName) {
  const auto t = ProfileTransform(profile, model, fileName);
  if (!t) return;
  for (int y = 0; y < bitmap.Height(); ++y) t->Apply(bitmap.Row(y), static_cast<size_t>(bitmap.Width()));
}

}  // namespace sdm
