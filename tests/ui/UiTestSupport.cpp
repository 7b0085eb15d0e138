#include "ui/UiTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QTextDocumentFragment>
#include <QToolButton>
#include <algorithm>
#include <filesystem>

#include "support/U_Log.h"
#include "support/U_SysUtils.h"
#include "ui/GlyphButton.h"

namespace sdm::test {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- ModalScript

ModalScript::ModalScript() {
  timer_.setInterval(10);
  connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
  timer_.start();
}

ModalScript::~ModalScript() { timer_.stop(); }

ModalScript& ModalScript::Then(Step step) {
  steps_.push_back(std::move(step));
  return *this;
}

void ModalScript::Poll() {
  // A dialog just answered may still be on screen for a moment; dialogs that
  // are reused come back later as new ones.
  if (handled_ && handled_->isVisible()) return;
  handled_ = nullptr;
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || !modal->isVisible() || steps_.empty()) return;
  if (IgnoreLoader && modal->objectName() == "LoaderDlg") return;
  if (!only_.isEmpty() && modal->objectName() != only_) return;
  handled_ = modal;
  Step step = std::move(steps_.front());
  steps_.pop_front();
  step(modal);
  // Closed by the step: the next showing of the same dialog is a new one.
  if (handled_ && !handled_->isVisible()) handled_ = nullptr;
}

ModalScript::Step ModalScript::Answer(QMessageBox::StandardButton button) {
  return [this, button](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr) << "expected a message box, found " << w->objectName().toStdString();
    Texts.push_back(box->text().toStdString());
    QAbstractButton* b = box->button(button);
    ASSERT_NE(b, nullptr);
    b->click();
  };
}

ModalScript::Step ModalScript::Choose(const std::vector<std::string>& paths) {
  return [paths](QWidget* w) {
    auto* dlg = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dlg, nullptr) << "expected a file dialog, found " << w->objectName().toStdString();
    if (paths.empty()) {
      dlg->reject();
      return;
    }
    dlg->setDirectory(QString::fromStdString(ExtractFilePath(paths.front())));
    QString typed;
    if (paths.size() == 1) {
      typed = QString::fromStdString(paths.front());
    } else {
      for (const std::string& p : paths) typed += "\"" + QString::fromStdString(ExtractFileNameW(p)) + "\" ";
    }
    auto* edit = dlg->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->setText(typed.trimmed());
    auto* box = dlg->findChild<QDialogButtonBox*>("buttonBox");
    ASSERT_NE(box, nullptr);
    QAbstractButton* accept =
        box->button(dlg->acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save : QDialogButtonBox::Open);
    ASSERT_NE(accept, nullptr);
    ASSERT_TRUE(accept->isEnabled()) << "cannot accept " << typed.toStdString();
    accept->click();
    if (dlg->isVisible()) {
      ADD_FAILURE() << "the file dialog did not take " << typed.toStdString();
      dlg->reject();
    }
  };
}

ModalScript::Step ModalScript::Cancel() {
  return [](QWidget* w) {
    if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
  };
}

ModalScript::Step ModalScript::Click(const char* buttonName) {
  return [buttonName](QWidget* w) {
    auto* b = w->findChild<QAbstractButton*>(buttonName);
    ASSERT_NE(b, nullptr) << buttonName << " in " << w->objectName().toStdString();
    QTest::mouseClick(b, Qt::LeftButton);
  };
}

std::vector<std::string> CaptionsThatDoNotFit(QWidget& window) {
  std::vector<std::string> bad;
  for (QAbstractButton* b : window.findChildren<QAbstractButton*>()) {
    if (b->text().isEmpty() || !b->isVisible() || qobject_cast<TGlyphButton*>(b)) continue;
    QString text = b->text();
    text.replace("&&", "&");
    int room = b->width() - 8;
    if (qobject_cast<QCheckBox*>(b)) room = b->width() - 22;
    if (auto* tool = qobject_cast<QToolButton*>(b))
      if (tool->toolButtonStyle() == Qt::ToolButtonTextBesideIcon) room -= tool->iconSize().width();
    if (b->fontMetrics().horizontalAdvance(text) > room) bad.push_back(b->objectName().toStdString());
  }
  // Group captions sit on the frame from 6 pixels in, with 2 of padding each
  // side; a title that is a file name is the data shown, not a caption.
  for (QGroupBox* g : window.findChildren<QGroupBox*>()) {
    if (g->title().isEmpty() || !g->isVisible() || g->title().contains('/')) continue;
    if (g->fontMetrics().horizontalAdvance(g->title()) + 10 > g->width()) bad.push_back(g->objectName().toStdString());
  }
  // A spin box's translated unit ("250 frames") is shown beside its largest
  // value, in its edit field less 2 pixels of margin each side.
  for (QSpinBox* s : window.findChildren<QSpinBox*>()) {
    if (s->suffix().isEmpty() || !s->isVisible()) continue;
    const QLineEdit* edit = s->findChild<QLineEdit*>();
    const QString widest = s->prefix() + QString::number(s->maximum()) + s->suffix();
    if (edit && s->fontMetrics().horizontalAdvance(widest) + 4 > edit->width())
      bad.push_back(s->objectName().toStdString());
  }
  for (QLabel* l : window.findChildren<QLabel*>()) {
    if (l->text().isEmpty() || !l->isVisible()) continue;
    // A link is measured by the text it shows, not by its markup.
    const QString shown =
        Qt::mightBeRichText(l->text()) ? QTextDocumentFragment::fromHtml(l->text()).toPlainText() : l->text();
    const QRect needed =
        l->fontMetrics().boundingRect(QRect(0, 0, l->width(), 10000), l->wordWrap() ? Qt::TextWordWrap : 0, shown);
    if (needed.width() > l->width() || needed.height() > l->height()) bad.push_back(l->objectName().toStdString());
  }
  return bad;
}

// ---------------------------------------------------------------- WindowTest

void WindowTest::SetUp() {
  fs::create_directories(dir.file("prog"));
  // The program file: the test program under the name of the window's, in a
  // folder of its own, where a portable copy keeps settings.ini.
  fs::create_symlink(ProgramFilePath(), ProgramPath());
  watchdog.setInterval(100);
  QObject::connect(&watchdog, &QTimer::timeout, [this] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != stuck) {
      stuck = modal;
      stuckTicks = 0;
      return;
    }
    if (!modal || ++stuckTicks < 300) return;
    ADD_FAILURE() << "dialog " << modal->objectName().toStdString() << " (\"" << modal->windowTitle().toStdString()
                  << "\") was left open";
    if (auto* d = qobject_cast<QDialog*>(modal))
      d->reject();
    else
      modal->close();
  });
  watchdog.start();
}

void WindowTest::TearDown() { Stop(); }

void WindowTest::Start(const std::vector<std::string>& arguments, bool installed) {
  if (!installed) Uninstall();
  TProgramEnvironment env;
  env.ProgramPath = ProgramPath();
  env.Arguments = arguments;
  windows = std::make_unique<TProgramWindows>(env);
  Main().ShellOpener = [this](const std::string& target) {
    opened.push_back(target);
    return true;
  };
  Main().show();
  ASSERT_TRUE(WaitFor([this] { return Main().StartupDone(); })) << "the first activation did not finish";
}

void WindowTest::Stop() {
  if (!windows) return;
  Main().close();
  windows.reset();
}

std::string WindowTest::Panel(int i) const {
  auto* label = windows->Main().findChild<QLabel*>(i == 0 ? "StatusBar_panel0" : "StatusBar_panel1");
  return label ? label->text().toStdString() : std::string("?");
}

std::vector<std::string> WindowTest::LogMessages() {
  std::vector<std::string> out;
  for (const std::string& line : Main().Log()->Lines()) {
    const size_t a = line.find('\t'), b = line.find('\t', a + 1);
    out.push_back(line.substr(b + 1));
  }
  std::reverse(out.begin(), out.end());
  return out;
}

bool WindowTest::WaitFor(const std::function<bool()>& done, int timeoutMs) { return QTest::qWaitFor(done, timeoutMs); }

void WindowTest::WaitForJob() {
  ASSERT_TRUE(WaitFor([this] { return Main().Job() && !Main().Job()->Running(); }, 300000)) << "the job did not end";
}

std::string WindowTest::Picture(const std::string& name, const std::string& example) {
  fs::create_directories(dir.file("pics"));
  const std::string path = dir.file("pics/" + name);
  fs::copy_file(SourcePath("examples/" + example), path, fs::copy_options::overwrite_existing);
  return path;
}

}  // namespace sdm::test
