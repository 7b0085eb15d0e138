#include "ui/CodecDlgs.h"

#include <QPointer>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
}

#include "localization/TextStorage.h"
#include "ui_CodecAboutDlg.h"
#include "ui_CodecConfigDlg.h"

namespace sdm {

namespace {

QString Narrow(const char16_t* s) {
  QString r;
  for (; *s; ++s) r += QChar(*s);
  return r;
}

QString Title(FOURCC fcc, const std::string& description) {
  return QString("%1 - %2").arg(QString::fromStdString(FourCCChars(fcc)).trimmed(),
                                QString::fromStdString(description));
}

QString Tr(const char* english) { return QString::fromStdString(main_ts().Translate(english)); }

constexpr Qt::WindowFlags kDialogFlags =
    Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

}  // namespace

TCodecConfigDlg::TCodecConfigDlg(QWidget* parent)
    : QDialog(parent, kDialogFlags), ui_(std::make_unique<Ui::CodecConfigDlg>()) {
  ui_->setupUi(this);
  setFixedSize(size());
  ShowControls(false);
  connect(ui_->ok_btn, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->cancel_btn, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui_->quality_trk, &QSlider::valueChanged, this,
          [this](int v) { ui_->qualityvalue_lbl->setText(QString("%1 %").arg(v)); });
}

TCodecConfigDlg::~TCodecConfigDlg() = default;

void TCodecConfigDlg::ShowControls(bool h264) {
  for (QWidget* w : std::initializer_list<QWidget*>{ui_->quality_lbl, ui_->quality_trk, ui_->qualityvalue_lbl,
                                                    ui_->keyframe_lbl, ui_->keyframe_txt})
    w->setVisible(!h264);
  for (QWidget* w : std::initializer_list<QWidget*>{ui_->crf_lbl, ui_->crf_txt, ui_->preset_lbl, ui_->preset_cmb})
    w->setVisible(h264);
}

void TCodecConfigDlg::Fill(FOURCC fcc, const std::string& description, const TCompressorSettings& settings) {
  ShowControls(false);
  ui_->codec_lbl->setText(Title(fcc, description));
  // The layer keeps quality in hundredths of a percent; a percent is as fine
  // as anyone can tell apart.
  ui_->quality_trk->setValue((settings.Quality + 50) / 100);
  ui_->qualityvalue_lbl->setText(QString("%1 %").arg(ui_->quality_trk->value()));
  ui_->keyframe_txt->setValue(settings.KeyFrameInterval);
  ui_->keyframe_txt->setSuffix(" " + Tr("frames"));
}

bool TCodecConfigDlg::Execute(FOURCC fcc, const std::string& description, TCompressorSettings& settings) {
  Fill(fcc, description, settings);
  if (exec() != QDialog::Accepted) return false;
  settings.Quality = ui_->quality_trk->value() * 100;
  settings.KeyFrameInterval = ui_->keyframe_txt->value();
  return true;
}

void TCodecConfigDlg::FillH264(const std::string& entry, const TH264Settings& settings) {
  ShowControls(true);
  const std::string fcc = entry.substr(0, 4);
  const std::string description = entry.size() > 5 ? entry.substr(5) : std::string();
  ui_->codec_lbl->setText(QString("%1 - %2").arg(QString::fromStdString(fcc), QString::fromStdString(description)));
  ui_->crf_txt->setValue(settings.Crf);
  // x264's own names for its presets, the words its users know.
  ui_->preset_cmb->clear();
  for (const std::string& p : H264Presets()) ui_->preset_cmb->addItem(QString::fromStdString(p));
  ui_->preset_cmb->setCurrentText(QString::fromStdString(settings.Preset));
}

bool TCodecConfigDlg::ExecuteH264(const std::string& entry, TH264Settings& settings) {
  FillH264(entry, settings);
  if (exec() != QDialog::Accepted) return false;
  settings.Crf = ui_->crf_txt->value();
  settings.Preset = ui_->preset_cmb->currentText().toStdString();
  return true;
}

TCodecAboutDlg::TCodecAboutDlg(QWidget* parent)
    : QDialog(parent, kDialogFlags), ui_(std::make_unique<Ui::CodecAboutDlg>()) {
  ui_->setupUi(this);
  setFixedSize(size());
  connect(ui_->ok_btn, &QPushButton::clicked, this, &QDialog::accept);
}

TCodecAboutDlg::~TCodecAboutDlg() = default;

void TCodecAboutDlg::Fill(FOURCC fcc, const std::string& description, const std::string& encoderName) {
  ui_->codec_lbl->setText(QString::fromStdString(description));
  ui_->fcc_lbl->setText(QString("FourCC : ") + QString::fromStdString(FourCCChars(fcc)));
  ICINFO info{};
  const QString encoder = !encoderName.empty()               ? QString::fromStdString(encoderName)
                          : ICInfo(ICTYPE_VIDEO, fcc, &info) ? Narrow(info.szDriver)
                                                             : QString("?");
  ui_->encoder_lbl->setText(Tr("Encoder") + " : " + encoder);
  const unsigned v = avcodec_version();
  ui_->library_lbl->setText(Tr("Library") + " : " +
                            (encoder == "slidomat" ? "Slidomat (" + Tr("uncompressed frames") + ")"
                                                   : QString("libavcodec %1.%2.%3 (FFmpeg %4)")
                                                         .arg(v >> 16)
                                                         .arg((v >> 8) & 0xFF)
                                                         .arg(v & 0xFF)
                                                         .arg(av_version_info())));
}

void TCodecAboutDlg::Execute(FOURCC fcc, const std::string& description, const std::string& encoder) {
  Fill(fcc, description, encoder);
  exec();
}

void InstallCompressorDialogs(TCodecConfigDlg* config, TCodecAboutDlg* about) {
  if (!config || !about) {
    SetCompressorDialogHooks(nullptr, nullptr);
    return;
  }
  QPointer<TCodecConfigDlg> c(config);
  QPointer<TCodecAboutDlg> a(about);
  SetCompressorDialogHooks([c](HWND, FOURCC fcc, const std::string& description,
                               TCompressorSettings& settings) { return c && c->Execute(fcc, description, settings); },
                           [a](HWND, FOURCC fcc, const std::string& description) {
                             if (a) a->Execute(fcc, description);
                           });
}

}  // namespace sdm
