// slidomat-screenshots: renders every window of the program to PNG files, the
// way they look to a user, without a display (Qt's offscreen platform). The
// main window is shown empty, with the example pictures, during a job and
// after it; each dialog is filled as the program fills it and shown.
//
//   slidomat-screenshots [--out FOLDER] [--examples FOLDER] [--lang en|fr|de|es]
//
// A language other than English is chosen as a user chooses it in Settings
// (the choice the program remembers), and its pictures go into a folder of
// their own, out/screenshots/fr/ and so on.
//
// Options are read from one table, so a new one (a language to show the
// windows in, say) is one more row.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <stdexcept>

#include "avi/U_BmpToAvi.h"
#include "localization/TextStorage.h"
#include "platform/registry/Registry.h"
#include "project/U_JobControl.h"
#include "support/U_SysUtils.h"
#include "ui/AboutDlg.h"
#include "ui/BurnDlg.h"
#include "ui/CodecDlgs.h"
#include "ui/CodecLoadingDlg.h"
#include "ui/ProgramWindows.h"
#include "ui/SanitizerSuppressions.h"
#include "ui/ThumbnailLoaderDlg.h"
#include "ui/U_ExpertDlg.h"
#include "ui/U_JumpDlg.h"
#include "ui/U_ProcessSuccess.h"
#include "ui/U_ReorderDlg.h"
#include "ui/U_SettingsDlg.h"
#include "ui_BurnDlg.h"
#include "ui_CodecLoadingDlg.h"
#include "ui_ThumbnailLoaderDlg.h"
#include "ui_U_MainDlg.h"

#ifndef SDM_SOURCE_DIR
#define SDM_SOURCE_DIR "."
#endif

namespace fs = std::filesystem;

namespace {

struct TOptions {
  std::string out;  // out/screenshots, or out/screenshots/LANG for another language
  std::string examples = SDM_SOURCE_DIR "/examples";
  std::string lang = "en";
};

// The shipped languages by the short names the option takes.
const std::map<std::string, uint32_t>& Languages() {
  static const std::map<std::string, uint32_t> languages = {
      {"en", 0x0409}, {"fr", 0x040C}, {"de", 0x0407}, {"es", 0x0C0A}};
  return languages;
}

struct TOption {
  const char* name;
  const char* help;
  std::function<void(TOptions&, const std::string&)> set;
};

const std::vector<TOption>& OptionTable() {
  static const std::vector<TOption> table = {
      {"--out", "FOLDER  where the PNG files go (default out/screenshots, out/screenshots/LANG for another language)",
       [](TOptions& o, const std::string& v) { o.out = v; }},
      {"--lang", "LANG  the language of the windows: en (default), fr, de or es",
       [](TOptions& o, const std::string& v) {
         if (!Languages().count(v)) throw std::invalid_argument("unknown language \"" + v + "\"");
         o.lang = v;
       }},
      {"--examples", "FOLDER  the pictures shown in the strip (default the bundled examples)",
       [](TOptions& o, const std::string& v) { o.examples = v; }},
  };
  return table;
}

void PrintOptions(std::ostream& out) {
  out << "Usage: slidomat-screenshots [OPTION VALUE]...\nOptions:\n";
  for (const TOption& o : OptionTable()) out << "  " << o.name << " " << o.help << "\n";
}

int Usage(const std::string& error) {
  std::cerr << "slidomat-screenshots: " << error << "\n";
  PrintOptions(std::cerr);
  return 2;
}

// Private registry, data folder and a machine hive with an uninstall entry, so
// the pictures show an installed program and nothing is left behind.
class TSandbox {
public:
  TSandbox() {
    char pattern[] = "/tmp/slidomat-shots-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary folder");
    root_ = pattern;
    fs::create_directories(root_ / "machine");
    std::ofstream(root_ / "machine" / "HKEY_LOCAL_MACHINE.reg")
        << "Slidomat registry hive 1\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvenit Slidomat]\n"
           "\"DisplayName\"=\"Tarvenit Slidomat\"\n";
    setenv("SLIDOMAT_MACHINE_REGISTRY_DIR", (root_ / "machine").c_str(), 1);
    setenv("SLIDOMAT_REGISTRY_DIR", (root_ / "user").c_str(), 1);
    setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root_ / "cache").c_str(), 1);
  }
  ~TSandbox() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string File(const std::string& name) const { return (root_ / name).string(); }
  // The language the program starts in, remembered as Settings remembers it.
  void ChooseLanguage(uint32_t id) const {
    sdm::TRegistry reg(sdm::HKEY_CURRENT_USER);
    if (reg.OpenKey("Software\\Tarvenit\\Slidomat", true)) reg.WriteInteger("langue", id);
  }

private:
  fs::path root_;
};

class TScenes {
public:
  TScenes(std::string out, std::string examples, const TSandbox& sandbox)
      : out_(std::move(out)), examples_(std::move(examples)), sandbox_(sandbox) {}

  int Run() {
    sdm::TProgramEnvironment env;
    env.ProgramPath = sdm::ProgramFilePath();
    sdm::TProgramWindows windows(env);
    sdm::TMainDlg& main = windows.Main();
    main.ShellOpener = [](const std::string&) { return true; };
    main.show();
    if (!WaitFor([&] { return main.StartupDone(); }, 60000)) return Fail("the window did not start");
    if (!main.langue().LanguageLoaded()) Fail("no language file was applied");
    Grab(main, "main-empty");

    std::vector<std::string> pictures;
    for (const char* name :
         {"landscape.jpg", "portrait.jpg", "wide.jpg", "bars.bmp", "portrait.bmp", "landscape.jpg", "wide.jpg"})
      pictures.push_back(examples_ + "/" + name);
    main.AddFiles(pictures);
    main.Project().SetOutputPath(sandbox_.File("slideshow.avi"));
    main.Form()->out_txt->setText(QString::fromStdString(sandbox_.File("slideshow.avi")));
    Grab(main, "main-pictures");
    // The same slideshow as an MP4: the codec list shows its encoder.
    main.Project().SetOutputPath(sandbox_.File("slideshow.mp4"));
    main.SyncFromProject();
    Grab(main, "main-mp4");
    main.Project().SetOutputPath(sandbox_.File("slideshow.avi"));
    main.SyncFromProject();

    Dialogs(main);
    PictureMessages(main);
    Job(main);
    return failures_;
  }

  int Written() const { return written_; }

private:
  void Grab(QWidget& w, const std::string& name) {
    QCoreApplication::processEvents();
    const std::string path = out_ + "/" + name + ".png";
    if (w.grab().save(QString::fromStdString(path)))
      ++written_;
    else
      Fail("cannot write " + path);
  }

  // Shows a dialog as its command would, without its modal loop, and grabs it.
  void GrabDialog(QDialog& d, const std::string& name) {
    d.show();
    Grab(d, name);
    d.hide();
  }

  void Dialogs(sdm::TMainDlg& main) {
    const sdm::TMainDialogs& d = main.Dialogs();
    d.Load->Form()->pb->setValue(40);
    GrabDialog(*d.Load, "dialog-loading");
    d.About->Fill(main.Environment().ProgramPath);
    GrabDialog(*d.About, "dialog-about");
    d.Jump->Fill(main.Project().PictureCount(), 1);
    GrabDialog(*d.Jump, "dialog-jump");
    d.Reorder->Project = &main.Project();
    d.Reorder->ThumbServer = main.ThumbServer();
    d.Reorder->StartIndex = 2;
    d.Reorder->Fill();
    d.Reorder->StartIndex = -1;
    GrabDialog(*d.Reorder, "dialog-organize");
    main.SetProgress(d.Loader->Form()->pb, 2, 4);
    GrabDialog(*d.Loader, "dialog-thumbnails");
    d.Settings->Fill();
    GrabDialog(*d.Settings, "dialog-settings");
    GrabDialog(*d.Expert, "dialog-expert");
    GrabDialog(*d.ProcessSuccess, "dialog-done");
    d.ProcessSuccess->Brenno->Form()->prog->setRange(0, 1);
    d.ProcessSuccess->Brenno->Form()->prog->setValue(1);
    GrabDialog(*d.ProcessSuccess->Brenno, "dialog-burn");
    d.CodecConfig->Fill(sdm::mmioFOURCC('x', 'v', 'i', 'd'), "Xvid MPEG-4 Video Codec", sdm::TCompressorSettings{});
    GrabDialog(*d.CodecConfig, "dialog-codec-configuration");
    d.CodecConfig->FillH264(sdm::ContainerCodecEntries(sdm::TOutputKind::Mp4).front(), sdm::TH264Settings{});
    GrabDialog(*d.CodecConfig, "dialog-codec-configuration-h264");
    main.FileDialog("JSD")->setDirectory(QString::fromStdString(sandbox_.File("")));
    GrabDialog(*main.FileDialog("JSD"), "dialog-output");
    d.CodecAbout->Fill(sdm::mmioFOURCC('x', 'v', 'i', 'd'), "Xvid MPEG-4 Video Codec");
    GrabDialog(*d.CodecAbout, "dialog-codec-about");
    // The overwrite question is the one message the program keeps in English.
    QMessageBox box(QMessageBox::Question, QString::fromStdString(sdm::main_ts().Translate("Question")),
                    "Output file already exists, and will be overwritten. Continue anyway ?",
                    QMessageBox::Yes | QMessageBox::No, &main);
    GrabDialog(box, "dialog-question");
  }

  // The picture picker on its first filter (every kind), and the messages
  // about a project's pictures that were not found.
  void PictureMessages(sdm::TMainDlg& main) {
    QFileDialog picker(&main);
    const QFileDialog* kept = main.FileDialog("JOD");
    picker.setOptions(kept->options());
    picker.setFileMode(kept->fileMode());
    picker.setNameFilters(kept->nameFilters());
    picker.setDirectory(QString::fromStdString(examples_));
    picker.resize(720, 420);
    GrabDialog(picker, "dialog-pictures");
    const std::vector<std::string> gone = {"/media/card/DCIM/100CANON/IMG_0412.JPG",
                                           "/media/card/DCIM/100CANON/IMG_0413.JPG", "/home/ana/Phone/IMG_2024.HEIC"};
    const QString warning = QString::fromStdString(sdm::main_ts().Translate("Warning"));
    QMessageBox told(QMessageBox::Warning, warning, QString::fromStdString(sdm::TMainDlg::LeftOutMessage(gone)),
                     QMessageBox::Ok, &main);
    GrabDialog(told, "dialog-pictures-left-out");
    const QString question = QString::fromStdString(sdm::main_ts().Translate("Question"));
    QMessageBox asked(QMessageBox::Question, question,
                      QString::fromStdString(sdm::TMainDlg::SaveWithoutLeftOutQuestion(gone)),
                      QMessageBox::Yes | QMessageBox::No, &main);
    GrabDialog(asked, "dialog-save-without-pictures");
  }

  // A job with the example pictures: grabbed a third of the way in, and after
  // it, whatever dialog it ends with grabbed and closed.
  void Job(sdm::TMainDlg& main) {
    bool grabbedDuring = false;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      sdm::TJobControl* job = main.Job();
      if (!grabbedDuring && job && job->Running() && job->ProgressMax() > 0 &&
          job->ProgressPosition() * 3 >= job->ProgressMax()) {
        grabbedDuring = true;
        Grab(main, "main-job");
      }
      // The job ends with "Done !"; the main window is shown after it.
      QWidget* modal = QApplication::activeModalWidget();
      if (modal && modal->objectName() == "ProcessSuccessDlg") static_cast<QDialog*>(modal)->done(QDialog::Accepted);
    });
    watch.start();
    main.Form()->go_btn->click();
    WaitFor([&] { return main.Job() && !main.Job()->Running(); }, 300000);
    watch.stop();
    if (!grabbedDuring) Fail("the job ended before it could be shown");
    if (main.Job()->LastEnd() != sdm::TJobEnd::Finished) Fail("the job did not finish: " + main.Job()->LastError());
    Grab(main, "main-done");
  }

  bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
      if (t.elapsed() > timeoutMs) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
  }

  int Fail(const std::string& what) {
    std::cerr << "slidomat-screenshots: " << what << "\n";
    return ++failures_;
  }

  std::string out_, examples_;
  const TSandbox& sandbox_;
  int written_ = 0;
  int failures_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintOptions(std::cout);
      return 0;
    }
    const TOption* match = nullptr;
    for (const TOption& o : OptionTable())
      if (arg == o.name) match = &o;
    if (!match) return Usage("unknown option \"" + arg + "\"");
    if (i + 1 >= argc) return Usage(arg + " needs a value");
    try {
      match->set(options, argv[++i]);
    } catch (const std::invalid_argument& e) {
      return Usage(e.what());
    }
  }
  if (options.out.empty()) options.out = options.lang == "en" ? "out/screenshots" : "out/screenshots/" + options.lang;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  TSandbox sandbox;
  sandbox.ChooseLanguage(Languages().at(options.lang));
  QApplication app(argc, argv);
  sdm::ApplyProgramLook(app);
  fs::create_directories(options.out);
  TScenes scenes(options.out, options.examples, sandbox);
  const int failures = scenes.Run();
  std::cout << "screenshots: " << scenes.Written() << " pictures in " << options.out << "\n";
  return failures == 0 ? 0 : 1;
}
