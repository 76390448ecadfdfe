#include "setupform.h"

#include <dlfcn.h>
#include <link.h>

#include <filesystem>
#include <system_error>

#include "kivds/rtl.h"
#include "kivwin/win.h"

namespace kivset {

namespace {

using namespace kivforms;

const char* const kIndexTypes[] = {"Morvane", "FoxPro", "Clipper"};
const char* const kLockTypes[] = {"Record", "File"};
const char* const kMorvaneLockings[] = {"Proprietary", "Compatible"};
const char* const kCharSets[] = {"ANSI", "OEM"};
const char* const kCompressions[] = {" ", "Internet", "Always", "Never"};

constexpr int kLabelGap = 12;
constexpr int kHelpFinder = 11;

TLabel* MakeLabel(TComponent* owner, TWinControl* parent, const char* caption, int left, int top,
                  TWinControl* focus) {
  auto* label = new TLabel(owner, parent);
  label->SetCaption(caption);
  label->SetLeftTop(left, top);
  label->SetFocusControl(focus);
  return label;
}

TCheckBox* MakeCheckBox(TComponent* owner, TWinControl* parent, const char* caption, int left,
                        int top, int width) {
  auto* box = new TCheckBox(owner, parent);
  box->SetCaption(caption);
  box->SetBounds(left, top, width, 17);
  return box;
}

TButton* MakeButton(TComponent* owner, TWinControl* parent, const char* caption, int left,
                    int top, int width) {
  auto* button = new TButton(owner, parent);
  button->SetCaption(caption);
  button->SetBounds(left, top, width, 25);
  return button;
}

// Selects the first item equal to `value` without regard to case, else
// item 0.
void SelectItem(TComboBox* combo, const std::string& value) {
  const std::string wanted = kivds::AnsiUpperCase(value);
  for (int i = 0; i < combo->Items().Count(); ++i) {
    if (kivds::AnsiUpperCase(combo->Items()[i]) == wanted) {
      combo->SetItemIndex(i);
      return;
    }
  }
  combo->SetItemIndex(0);
}

std::string OwnFolder() {
  static const int anchor = 0;
  std::string file = kivwin::ModuleFileName(&anchor);
  const size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

// Where the dynamic loader finds `name`, or empty.
std::string LoaderPath(const char* name) {
  void* handle = dlopen(name, RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
  if (handle == nullptr) handle = dlopen(name, RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) return {};
  std::string path;
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr)
    path = map->l_name;
  dlclose(handle);
  return path;
}

}  // namespace

TForm1::TForm1(TComponent* owner) : TForm(owner) {
  SetName("Form1");
  SetCaption("Morvane Rivulet ODBC Driver Setup");
  SetBorderStyle(bsDialog);
  SetPosition(poScreenCenter);
  SetClientSize(470, 440);

  // Controls are created in their tab order.
  EditDSN = new TEdit(this, this);
  EditDSN->SetBounds(130, 8, 332, 21);
  DSNLabel = MakeLabel(this, this, "Data Source &Name:", 8, 11, EditDSN);
  EditDesc = new TEdit(this, this);
  EditDesc->SetBounds(130, 36, 332, 21);
  DescriptionLabel = MakeLabel(this, this, "&Description:", 8, 39, EditDesc);

  GroupBox1 = new TGroupBox(this, this);
  GroupBox1->SetCaption("Database or Data Dictionary Path");
  GroupBox1->SetBounds(8, 64, 454, 54);
  CheckBoxDD = MakeCheckBox(this, GroupBox1, "Data Dictionar&y", 8, 24, 116);
  EditDir = new TEdit(this, GroupBox1);
  EditDir->SetBounds(128, 22, 240, 21);
  ButtonBrowse = MakeButton(this, GroupBox1, "&Browse", 374, 20, 72);

  GroupBox2 = new TGroupBox(this, this);
  GroupBox2->SetCaption("Options");
  GroupBox2->SetBounds(8, 124, 454, 272);
  ComboIndexType = new TComboBox(this, GroupBox2);
  ComboLockType = new TComboBox(this, GroupBox2);
  ComboMorvaneLocking = new TComboBox(this, GroupBox2);
  ComboCharSet = new TComboBox(this, GroupBox2);
  ComboCompression = new TComboBox(this, GroupBox2);
  const std::pair<TComboBox*, const char*> combos[] = {
      {ComboIndexType, "&Table Type:"},         {ComboLockType, "&Locking Type:"},
      {ComboMorvaneLocking, "&Morvane Locking:"}, {ComboCharSet, "&Character Set:"},
      {ComboCompression, "&Packet Compression:"}};
  int top = 22;
  for (const auto& [combo, caption] : combos) {
    combo->SetStyle(csDropDownList);
    combo->SetBounds(146, top, 100, 22);
    MakeLabel(this, GroupBox2, caption, 8, top + 3, combo);
    top += 30;
  }
  EditMBSize = new TEdit(this, GroupBox2);
  EditMBSize->SetBounds(146, top, 50, 21);
  EditMBSize->SetMaxLength(4);
  MakeLabel(this, GroupBox2, "Memo Block Si&ze:", 8, top + 3, EditMBSize);
  top += 30;
  EditFileCache = new TEdit(this, GroupBox2);
  EditFileCache->SetBounds(146, top, 50, 21);
  EditFileCache->SetMaxLength(3);
  MakeLabel(this, GroupBox2, "Open &File Cache:", 8, top + 3, EditFileCache);

  GroupBox3 = new TGroupBox(this, GroupBox2);
  GroupBox3->SetCaption("Available Server Types");
  GroupBox3->SetBounds(256, 18, 190, 96);
  CheckBoxRemote = MakeCheckBox(this, GroupBox3, "&Remote Server (KIV)", 8, 22, 176);
  CheckBoxLocal = MakeCheckBox(this, GroupBox3, "L&ocal Server (KLS)", 8, 46, 176);
  CheckBoxKIS = MakeCheckBox(this, GroupBox3, "&Internet Server (KIS)", 8, 70, 176);

  GroupBox4 = new TGroupBox(this, GroupBox2);
  GroupBox4->SetBounds(256, 122, 190, 64);
  CheckBoxShowDeleted = MakeCheckBox(this, GroupBox4, "Show D&eleted Rows", 8, 14, 176);
  CheckBoxTrimTrail = MakeCheckBox(this, GroupBox4, "Trim Trailing &Spaces", 8, 38, 176);

  ButtonOK = MakeButton(this, this, "OK", 8, 406, 75);
  ButtonOK->SetDefault(true);
  ButtonCancel = MakeButton(this, this, "Cancel", 91, 406, 75);
  ButtonCancel->SetCancel(true);
  ButtonCancel->SetModalResult(mrCancel);
  ButtonHelp = MakeButton(this, this, "&Help", 174, 406, 75);
  ButtonCheckDLL = MakeButton(this, this, "Check DLLs", 257, 406, 90);
  DictionaryDialog = new TOpenDialog(this);

  for (TEdit* edit : {EditDSN, EditDir, EditMBSize, EditFileCache})
    edit->OnChange = [this](TComponent*) { EditBoxChange(); };
  ComboIndexType->OnChange = [this](TComponent*) { ComboIndexTypeChange(); };
  ComboMorvaneLocking->OnChange = [this](TComponent*) { ComboIndexTypeChange(); };
  ButtonOK->OnClick = [this](TComponent*) { ButtonOKClick(); };
  ButtonCancel->OnClick = [this](TComponent*) { ButtonCancelClick(); };
  ButtonHelp->OnClick = [this](TComponent*) { ButtonHelpClick(); };
  ButtonBrowse->OnClick = [this](TComponent*) { ButtonBrowseClick(); };
  ButtonCheckDLL->OnClick = [this](TComponent*) { ButtonCheckDLLClick(); };
  OnCreate = [this](TComponent*) { FormCreate(); };
}

void TForm1::FormCreate() {
  auto fill = [](TComboBox* combo, const auto& items) {
    combo->Items().Clear();
    for (const char* item : items) combo->Items().Add(item);
  };
  fill(ComboIndexType, kIndexTypes);
  fill(ComboLockType, kLockTypes);
  fill(ComboMorvaneLocking, kMorvaneLockings);
  fill(ComboCharSet, kCharSets);
  fill(ComboCompression, kCompressions);
}

int TForm1::SetFormFromDSNInfo(const TDSNInfo& info) {
  EditDSN->SetText(info.DSN);
  EditDesc->SetText(info.Description);
  EditDir->SetText(info.DataDirectory);
  SelectItem(ComboIndexType, info.DefaultType);
  SelectItem(ComboLockType, info.Locking);
  SelectItem(ComboMorvaneLocking,
             kivds::AnsiUpperCase(info.MorvaneLocking) == "OFF" ? "Compatible" : "Proprietary");
  SelectItem(ComboCharSet, info.CharSet);
  SelectItem(ComboCompression, info.Compression);
  CheckBoxDD->SetChecked(info.DataDictionary);
  CheckBoxShowDeleted->SetChecked(info.Rows);
  CheckBoxTrimTrail->SetChecked(info.TrimTrailingSpaces);
  EditMBSize->SetText(std::to_string(info.MemoBlockSize));
  EditFileCache->SetText(std::to_string(info.MaxTableCloseCache));

  // Server types tick boxes and never untick them.
  const int types = info.ServerTypes;
  const bool known = types >= 1 && types <= 7;
  if (!known || (types & 2)) CheckBoxRemote->SetChecked(true);
  if (known && (types & 1)) CheckBoxLocal->SetChecked(true);
  if (!known || (types & 4)) CheckBoxKIS->SetChecked(true);

  // Setting a text to the one it already holds fires no change, so the OK
  // state is brought up to date here.
  EditBoxChange();
  return 0;
}

void TForm1::GetDSNInfoFromForm(TDSNInfo& info) const {
  info.DSN = EditDSN->Text();
  info.Description = EditDesc->Text();
  info.DataDirectory = EditDir->Text();
  info.DefaultType = ComboIndexType->Text();
  info.Locking = ComboLockType->Text();
  info.CharSet = ComboCharSet->Text();
  info.Compression = ComboCompression->Text();
  info.MorvaneLocking = ComboMorvaneLocking->Text() == "Compatible" ? "OFF" : "ON";
  info.DataDictionary = CheckBoxDD->Checked();
  info.Rows = CheckBoxShowDeleted->Checked();
  info.TrimTrailingSpaces = CheckBoxTrimTrail->Checked();
  info.MemoBlockSize = kivds::StrToIntDef(EditMBSize->Text(), kDefaultMemoBlockSize);
  info.MaxTableCloseCache = kivds::StrToIntDef(EditFileCache->Text(), kDefaultMaxTableCloseCache);
  info.ServerTypes = (CheckBoxRemote->Checked() ? 2 : 0) + (CheckBoxLocal->Checked() ? 1 : 0) +
                     (CheckBoxKIS->Checked() ? 4 : 0);
}

void TForm1::MakeLoginPrompt() {
  loginPrompt_ = true;
  DSNLabel->SetCaption("User &Name:");
  DescriptionLabel->SetCaption("Passwor&d:");
  DSNLabel->SetLeftTop(EditDSN->Left() - DSNLabel->Width() - kLabelGap, DSNLabel->Top());
  DescriptionLabel->SetLeftTop(EditDesc->Left() - DescriptionLabel->Width() - kLabelGap,
                               DescriptionLabel->Top());
  EditDesc->SetPasswordChar('*');
  EditBoxChange();
}

void TForm1::ButtonOKClick() { SetModalResult(mrOk); }

void TForm1::ButtonCancelClick() { SetModalResult(mrCancel); }

void TForm1::ButtonHelpClick() {
  if (Application == nullptr) return;
  Application->HelpFile = "KIVODBC.HLP";
  Application->HelpCommand(kHelpFinder, 0);
}

void TForm1::ButtonBrowseClick() {
  std::string path = EditDir->Text();
  if (CheckBoxDD->Checked()) {
    // A final separator would make the path name a folder, not a file.
    if (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    DictionaryDialog->FileName = path;
    DictionaryDialog->InitialDir = path;
    DictionaryDialog->Filter = "Data Dictionary Files (*.kdd)|*.kdd;*.KDD|All Files (*.*)|*";
    if (DictionaryDialog->Execute()) EditDir->SetText(DictionaryDialog->FileName);
    return;
  }
  if (!SelectDirectory("Select Directory", path)) return;
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) {
    if (MessageDlg("The directory " + path + " does not exist.\rDo you want to create it?",
                   mtConfirmation, mbYesNo) != mrYes)
      return;
    if (!std::filesystem::create_directories(path, ec) && ec) {
      MessageDlg("Could not create the directory " + path + ":\r" + ec.message(), mtError, mbOK);
      return;
    }
  }
  EditDir->SetText(path);
}

void TForm1::ButtonCheckDLLClick() {
  kivwin::MessageBox(CheckDLLsMessage(OwnFolder()), "Morvane ODBC DLL Check", kivwin::MB_OK);
}

void TForm1::EditBoxChange() {
  // The connect prompt may go without a user name: local connections have
  // none.
  bool filled = EditDir->Text() != "" && EditMBSize->Text() != "" && EditFileCache->Text() != "";
  if (!loginPrompt_) filled = filled && EditDSN->Text() != "";
  ButtonOK->SetEnabled(filled);
}

void TForm1::ComboIndexTypeChange() {
  if (ComboIndexType->Text() != "Morvane") return;
  for (int i = 0; i < ComboMorvaneLocking->Items().Count(); ++i) {
    if (kivds::SameText(ComboMorvaneLocking->Items()[i], "Proprietary")) {
      if (ComboMorvaneLocking->ItemIndex() != i) ComboMorvaneLocking->SetItemIndex(i);
      return;
    }
  }
}

std::unique_ptr<TForm1> CreateSetupForm() {
  auto form = std::make_unique<TForm1>(nullptr);
  form->DoCreate();
  return form;
}

std::string CheckDLLsMessage(const std::string& ownFolder) {
  // The driver's libraries under their names here; the ones without a
  // counterpart on this platform are listed apart.
  struct Library {
    const char* name;
    const char* here;
  };
  static const Library kLibraries[] = {
      {"kivodbc.dll", "libKIVODBC.so"}, {"qel32.dll", "libqel32.so"},
      {"tunrel32.dll", nullptr},        {"kivloc32.dll", nullptr},
      {"odbc32.dll", "libodbc.so.2"},   {"odbccp32.dll", "libodbcinst.so.2"},
      {"odbcint.dll", nullptr},         {"wsock32.dll", nullptr},
  };
  std::string message, missing, absent;
  for (const Library& lib : kLibraries) {
    if (lib.here == nullptr) {
      absent += std::string(lib.name) + "\r";
      continue;
    }
    std::string path;
    if (!ownFolder.empty())
      if (auto found = kivwin::SearchPath(lib.here, ownFolder)) path = *found;
    if (path.empty()) path = LoaderPath(lib.here);
    if (path.empty()) missing += std::string(lib.here) + "\r";
    else message += path + "\r";
  }
  if (!missing.empty()) message += "\rWARNING: The following DLL(s) were not found\r" + missing;
  if (!absent.empty())
    message += "\rThe following DLL(s) are not used on this platform\r" + absent;
  return message;
}

bool CheckRanges(const TDSNInfo& info) {
  if (info.MemoBlockSize < 0 || info.MemoBlockSize > kMemoBlockSizeLimit) {
    MessageDlg("Error:  Memo Block Size must be between 0 and " + std::to_string(kMemoBlockSizeLimit),
               mtError, mbOK);
    return false;
  }
  if (info.MaxTableCloseCache < 0 || info.MaxTableCloseCache > kTableCloseCacheLimit) {
    MessageDlg("Error:  Open File Cache must be between 0 and " +
                   std::to_string(kTableCloseCacheLimit),
               mtError, mbOK);
    return false;
  }
  return true;
}

}  // namespace kivset
