#pragma once
// The compressor layer's configuration and about dialogs. The layer calls
// them through its hooks when the window asks the writer to configure or to
// describe the chosen compressor; what the configuration dialog accepts is
// stored by the layer and used from the next job on.
#include <QDialog>
#include <memory>
#include <string>

#include "avi/OutputKind.h"
#include "platform/vfw/Vfw.h"

namespace Ui {
class CodecConfigDlg;
class CodecAboutDlg;
}  // namespace Ui

namespace sdm {

class TCodecConfigDlg : public QDialog {
  Q_OBJECT
public:
  explicit TCodecConfigDlg(QWidget* parent);
  ~TCodecConfigDlg() override;
  // Shows the settings of the compressor; true (and the settings changed)
  // when the user accepts them.
  bool Execute(FOURCC fcc, const std::string& description, TCompressorSettings& settings);
  void Fill(FOURCC fcc, const std::string& description, const TCompressorSettings& settings);
  // The H.264 encoder of an MP4: constant quality (CRF) and speed preset in
  // place of the compressors' quality and key-frame interval.
  bool ExecuteH264(const std::string& entry, TH264Settings& settings);
  void FillH264(const std::string& entry, const TH264Settings& settings);
  Ui::CodecConfigDlg* Form() const { return ui_.get(); }

private:
  void ShowControls(bool h264);
  std::unique_ptr<Ui::CodecConfigDlg> ui_;
};

class TCodecAboutDlg : public QDialog {
  Q_OBJECT
public:
  explicit TCodecAboutDlg(QWidget* parent);
  ~TCodecAboutDlg() override;
  // encoder names what makes the frames; by default the compressor layer's
  // driver for the FourCC.
  void Execute(FOURCC fcc, const std::string& description, const std::string& encoder = {});
  void Fill(FOURCC fcc, const std::string& description, const std::string& encoder = {});
  Ui::CodecAboutDlg* Form() const { return ui_.get(); }

private:
  std::unique_ptr<Ui::CodecAboutDlg> ui_;
};

// Plugs the two dialogs into the compressor layer, which then shows them
// whenever a compressor is configured or described; nulls unplug them.
void InstallCompressorDialogs(TCodecConfigDlg* config, TCodecAboutDlg* about);

}  // namespace sdm
