#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>

#include "kivds/db.h"
#include "kivforms/forms.h"
#include "kivqt/qt.h"
#include "kivwin/win.h"

namespace kivforms {

TApplication* Application = nullptr;

namespace {

TOpenDialogHook& OpenHook() {
  static TOpenDialogHook hook;
  return hook;
}

TSelectDirectoryHook& DirectoryHook() {
  static TSelectDirectoryHook hook;
  return hook;
}

// "Text|*.kdd|All|*.*" to Qt's "Text (*.kdd);;All (*.*)".
QString QtFilter(const std::string& filter) {
  std::vector<std::string> parts;
  kivds::ExtractStrings("|", "", filter, parts);
  QStringList out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = ToQ(parts[i + 1]).replace(';', ' ');
    out << ToQ(parts[i]) + " (" + patterns + ")";
  }
  return out.join(";;");
}

std::string TitleOrDefault() { return Application ? Application->Title : std::string("Application"); }

}  // namespace

TOpenDialogHook SetOpenDialogHook(TOpenDialogHook hook) {
  return std::exchange(OpenHook(), std::move(hook));
}

TSelectDirectoryHook SetSelectDirectoryHook(TSelectDirectoryHook hook) {
  return std::exchange(DirectoryHook(), std::move(hook));
}

bool TOpenDialog::Execute() {
  if (OpenHook()) return OpenHook()(*this);
  QString start = ToQ(FileName.empty() ? InitialDir : FileName);
  QFileDialog dialog(nullptr, ToQ(Title), start, QtFilter(Filter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // ofFileMustExist: only an existing file is taken; without it any name
  dialog.setFileMode(Options & ofFileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  // DefaultExt names the extension a name typed without one gets ("kdd",
  // also written "*.kdd" or ".kdd")
  std::string ext = DefaultExt;
  if (ext.rfind("*.", 0) == 0) ext.erase(0, 2);
  else if (ext.rfind('.', 0) == 0) ext.erase(0, 1);
  if (ext.find_first_of("*?") == std::string::npos) dialog.setDefaultSuffix(ToQ(ext));
  const QString current = QDir::currentPath();
  const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
  if (Options & ofNoChangeDir) QDir::setCurrent(current);
  if (!chosen) return false;
  FileName = FromQ(dialog.selectedFiles().first());
  return true;
}

bool SelectDirectory(const std::string& caption, std::string& directory) {
  if (DirectoryHook()) return DirectoryHook()(caption, directory);
  QString chosen = QFileDialog::getExistingDirectory(nullptr, ToQ(caption), ToQ(directory));
  if (chosen.isEmpty()) return false;
  directory = FromQ(chosen);
  return true;
}

void ShowMessage(const std::string& text) {
  kivwin::MessageBox(text, TitleOrDefault(), kivwin::MB_OK);
}

int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) {
  static const char* captions[] = {"Warning", "Error", "Information", "Confirm", ""};
  static const unsigned icons[] = {kivwin::MB_ICONWARNING, kivwin::MB_ICONERROR,
                                   kivwin::MB_ICONINFORMATION, kivwin::MB_ICONQUESTION, 0};
  static const unsigned kinds[] = {kivwin::MB_OK, kivwin::MB_OKCANCEL, kivwin::MB_YESNO,
                                   kivwin::MB_YESNOCANCEL};
  const std::string caption = type == mtCustom ? TitleOrDefault() : captions[type];
  return kivwin::MessageBox(text, caption, icons[type] | kinds[buttons]);
}

// ---- Login ---------------------------------------------------------------

TLoginDialog::TLoginDialog(TComponent* owner) : TForm(owner) {
  SetCaption("Database Login");
  SetBorderStyle(bsDialog);
  SetPosition(poScreenCenter);
  SetClientSize(290, 150);
  auto* dbLabel = new TLabel(this, this);
  dbLabel->SetCaption("Database:");
  dbLabel->SetLeftTop(10, 12);
  DatabaseName = new TLabel(this, this);
  DatabaseName->SetLeftTop(100, 12);
  auto* userLabel = new TLabel(this, this);
  userLabel->SetCaption("&User Name:");
  userLabel->SetLeftTop(10, 44);
  UserName = new TEdit(this, this);
  UserName->SetBounds(100, 40, 180, 22);
  userLabel->SetFocusControl(UserName);
  auto* passwordLabel = new TLabel(this, this);
  passwordLabel->SetCaption("&Password:");
  passwordLabel->SetLeftTop(10, 76);
  Password = new TEdit(this, this);
  Password->SetBounds(100, 72, 180, 22);
  Password->SetPasswordChar('*');
  passwordLabel->SetFocusControl(Password);
  OKButton = new TButton(this, this);
  OKButton->SetCaption("OK");
  OKButton->SetBounds(124, 112, 75, 25);
  OKButton->SetDefault(true);
  OKButton->SetModalResult(mrOk);
  CancelButton = new TButton(this, this);
  CancelButton->SetCaption("Cancel");
  CancelButton->SetBounds(205, 112, 75, 25);
  CancelButton->SetCancel(true);
  CancelButton->SetModalResult(mrCancel);
}

bool LoginDialogEx(const std::string& databaseName, std::string& userName, std::string& password,
                   bool nameReadOnly) {
  TLoginDialog dialog(nullptr);
  dialog.DatabaseName->SetCaption(databaseName);
  dialog.UserName->SetText(userName);
  dialog.UserName->SetReadOnly(nameReadOnly);
  dialog.Password->SetText(password);
  if (dialog.ShowModal() != mrOk) return false;
  userName = dialog.UserName->Text();
  password = dialog.Password->Text();
  return true;
}

// ---- Application ---------------------------------------------------------

TApplication::TApplication(int& argc, char** argv) : TComponent(nullptr) {
  if (QApplication::instance() == nullptr) qtApp_ = std::make_unique<QApplication>(argc, argv);
  Application = this;
  if (!kivds::LoginDialogExProc()) kivds::LoginDialogExProc() = &LoginDialogEx;
  if (!kivds::ApplicationExceptionHandler())
    kivds::ApplicationExceptionHandler() = [this](std::exception_ptr e, TComponent* sender) {
      HandleException(e, sender);
    };
  // Message boxes become Qt dialogs unless someone installed a sink already.
  kivwin::MessageBoxSink previous = kivwin::SetMessageBoxSink(nullptr);
  kivwin::SetMessageBoxSink(previous ? previous : kivwin::MessageBoxSink(&kivqt::MessageBox));
}

TApplication::~TApplication() {
  // Forms go first, while Qt is still there.
  while (ComponentCount() > 0) delete Components(ComponentCount() - 1);
  mainForm_ = nullptr;
  if (Application == this) Application = nullptr;
}

void TApplication::Run() {
  if (mainForm_ != nullptr) mainForm_->Show();
  QApplication::exec();
}

void TApplication::Terminate() { QCoreApplication::quit(); }

void TApplication::ProcessMessages() { QCoreApplication::processEvents(); }

int TApplication::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  return kivwin::MessageBox(text, caption, flags);
}

bool TApplication::HelpCommand(int command, intptr_t data) {
  return OnHelp ? OnHelp(command, data) : false;
}

void TApplication::HandleException(std::exception_ptr error, TComponent* sender) {
  if (OnException) {
    OnException(sender, error);
    return;
  }
  try {
    std::rethrow_exception(error);
  } catch (const kivds::EAbort&) {
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowException(std::runtime_error("Unknown exception"));
  }
}

void TApplication::ShowException(const std::exception& e) {
  std::string text = e.what();
  if (!text.empty() && text.back() != '.') text += '.';
  kivwin::MessageBox(text, Title, kivwin::MB_OK | kivwin::MB_ICONERROR);
}

}  // namespace kivforms
