// TForm1: the checker's main window and its handlers.
#include "mainform.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <exception>
#include <vector>

#include "checker/kivfunc.h"
#include "kivds/db.h"

namespace checker {

using namespace kivforms;
using kivds::TComponent;

namespace {

constexpr const char* kTableListSql = "select name from system.tables order by 1";
// Leading blank and double blanks as the program has always sent it.
constexpr const char* kColumnsSql =
    " select field_num, name, field_type, field_length, field_decimal  from system.columns  where parent=:parent  "
    "order by 1";

// Gives the query this one-line text; the same text leaves it (and its
// parameters) alone.
void SetQueryText(TKivQuery& query, const std::string& text) {
  kivds::TStringList lines;
  lines.Add(text);
  query.SetSQL(lines);
}

}  // namespace

TForm1::TForm1(TComponent* owner) : TForm(owner) {
  SetName("Form1");
  SetCaption("Kiv Consistency Check");
  SetClientSize(480, 378);
  SetPosition(poScreenCenter);
  SetFont("Tahoma", -kFontPixels);

  Label1 = new TLabel(this, this);
  Label1->SetName("Label1");
  Label1->SetCaption("Connectpath");
  Label1->SetLeftTop(8, 11);
  Label2 = new TLabel(this, this);
  Label2->SetName("Label2");
  Label2->SetCaption("Servertype");
  Label2->SetLeftTop(8, 44);
  Label3 = new TLabel(this, this);
  Label3->SetName("Label3");
  Label3->SetCaption("Tables");
  Label3->SetLeftTop(8, 86);

  edConnectPath = new TEdit(this, this);
  edConnectPath->SetName("edConnectPath");
  edConnectPath->SetBounds(76, 8, 318, 21);
  edConnectPath->SetAnchors(akLeft | akTop | akRight);

  RadioGroup1 = new TRadioGroup(this, this);
  RadioGroup1->SetName("RadioGroup1");
  RadioGroup1->SetBounds(76, 35, 225, 38);
  RadioGroup1->SetColumns(3);
  for (const char* item : {"Remote", "Local", "KIS"}) RadioGroup1->Items().Add(item);
  RadioGroup1->SetItemIndex(0);

  btnBrowse = new TButton(this, this);
  btnBrowse->SetName("btnBrowse");
  btnBrowse->SetCaption("Browse");
  btnBrowse->SetBounds(402, 6, 70, 25);
  btnBrowse->SetAnchors(akTop | akRight);
  btnBrowse->OnClick = [this](TComponent* sender) { Guarded([&] { btnBrowseClick(sender); }); };

  btnConnect = new TButton(this, this);
  btnConnect->SetName("btnConnect");
  btnConnect->SetCaption("Connect");
  btnConnect->SetBounds(402, 37, 70, 25);
  btnConnect->OnClick = [this](TComponent* sender) { btnConnectClick(sender); };

  clbTables = new TCheckListBox(this, this);
  clbTables->SetName("clbTables");
  clbTables->SetBounds(76, 86, 318, 124);
  clbTables->SetAnchors(akLeft | akTop | akRight);

  btnCheck = new TButton(this, this);
  btnCheck->SetName("btnCheck");
  btnCheck->SetCaption("Check");
  btnCheck->SetBounds(402, 86, 70, 25);
  btnCheck->OnClick = [this](TComponent* sender) { btnCheckClick(sender); };

  memLog = new TMemo(this, this);
  memLog->SetName("memLog");
  memLog->SetBounds(8, 216, 464, 154);
  memLog->SetAnchors(akLeft | akTop | akRight | akBottom);
  memLog->SetReadOnly(true);
  memLog->SetScrollBars(ssVertical);

  cn = new TKivConnection(this);
  cn->SetName("cn");
  cn->SetLoginPrompt(true);
  cn->SetUsername("KIVSYS");
  cn->AfterConnect = [this](TComponent* sender) { cnAfterConnect(sender); };
  cn->AfterDisconnect = [this](TComponent* sender) { cnAfterDisconnect(sender); };

  tb = new TKivTable(this);
  tb->SetName("tb");
  tb->SetDatabaseName("cn");
  tb->SetKivConnection(cn);

  qu = new TKivQuery(this);
  qu->SetName("qu");
  qu->SetDatabaseName("cn");
  qu->SetKivConnection(cn);

  OpenDialog1 = new TOpenDialog(this);
  OpenDialog1->SetName("OpenDialog1");
  OpenDialog1->DefaultExt = "*.kdd";
  OpenDialog1->Filter = "Morvane Data Dictionaries|*.kdd";
  OpenDialog1->Options = ofHideReadOnly | ofEnableSizing | ofFileMustExist | ofNoChangeDir;
  OpenDialog1->Title = "Open Data Dictionary";

  OnCreate = [this](TComponent* sender) { FormCreate(sender); };
  FitFontToLabels();
}

std::vector<TForm1::LabelRoom> TForm1::LabelRooms() const {
  return {{Label1, edConnectPath}, {Label2, RadioGroup1}, {Label3, clbTables}};
}

bool TForm1::LabelsFit() const {
  for (const LabelRoom& room : LabelRooms()) {
    const QFontMetrics metrics(room.label->Widget()->font());
    const int text = metrics.horizontalAdvance(room.label->Widget()->property("text").toString());
    if (text + kLabelGap > room.next->Left() - room.label->Left() || room.label->Width() < text) return false;
  }
  return true;
}

void TForm1::FitFontToLabels() {
  auto apply = [this](const QString& family, int pixels) {
    SetFont(FromQ(family), -pixels);
    // Each label takes the width of its text in the new font.
    for (const LabelRoom& room : LabelRooms()) room.label->SetCaption(room.label->Caption());
  };
  if (LabelsFit()) return;
  // Without the Windows fonts another face stands in for Tahoma, often a
  // wider one: a narrow face of the same size first, then smaller sizes.
  for (const char* family : {"DejaVu Sans Condensed", "Liberation Sans Narrow", "Arial Narrow"}) {
    if (!QFontDatabase::hasFamily(family)) continue;
    apply(family, kFontPixels);
    if (LabelsFit()) return;
  }
  const QString family = Widget()->font().family();
  for (int pixels = kFontPixels - 1; pixels >= kSmallestFontPixels; --pixels) {
    apply(family, pixels);
    if (LabelsFit()) return;
  }
}

TForm1::~TForm1() {
  cn->AfterConnect = nullptr;
  cn->AfterDisconnect = nullptr;
}

template <class F>
void TForm1::Guarded(F&& body) {
  try {
    body();
  } catch (...) {
    if (kivds::ApplicationExceptionHandler()) {
      kivds::ApplicationExceptionHandler()(std::current_exception(), this);
      return;
    }
    try {
      throw;
    } catch (const std::exception& e) {
      ShowMessage(e.what());
    } catch (...) {
      ShowMessage("Unknown exception");
    }
  }
}

void TForm1::LogLine(const std::string& text) {
  size_t start = 0;
  for (;;) {
    const size_t end = text.find_first_of("\r\n", start);
    memLog->Lines().Add(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  if (Application != nullptr) Application->ProcessMessages();
}

void TForm1::FormCreate(TComponent* sender) { cnAfterDisconnect(sender); }

void TForm1::btnBrowseClick(TComponent*) {
  OpenDialog1->FileName = edConnectPath->Text();
  if (OpenDialog1->Execute()) edConnectPath->SetText(OpenDialog1->FileName);
}

void TForm1::btnConnectClick(TComponent*) {
  if (checking_) return;
  try {
    if (cn->IsConnected()) {
      cn->Disconnect();
      return;
    }
    const int index = RadioGroup1->ItemIndex();
    cn->SetKivServerTypes(index == 0 ? TKivServerTypes{stKIV_REMOTE}
                                     : index == 1 ? TKivServerTypes{stKIV_LOCAL} : TKivServerTypes{stKIV_KIS});
    cn->SetConnectPath(edConnectPath->Text());
    try {
      cn->Connect();
    } catch (...) {
      // A connection that is up but no dictionary connection never stays,
      // even when listing its tables failed.
      if (!cn->IsConnected() || cn->IsDictionaryConnection()) throw;
    }
    if (!cn->IsDictionaryConnection()) {
      cn->Disconnect();
      throw kivds::Exception("Only Dictionary Connections are allowed!");
    }
  } catch (const std::exception& e) {
    LogLine(e.what());
    ShowMessage(e.what());
  } catch (...) {
    Guarded([] { throw; });
  }
}

void TForm1::cnAfterConnect(TComponent*) {
  btnConnect->SetCaption("Disconnect");
  clbTables->Items().Clear();
  qu->Close();
  SetQueryText(*qu, kTableListSql);
  qu->Open();
  for (qu->First(); !qu->Eof(); qu->Next()) clbTables->Items().Add(qu->Fields()[0]->AsString());
  qu->Close();
  for (int i = 0; i < clbTables->Items().Count(); ++i) clbTables->SetChecked(i, true);
  btnCheck->SetEnabled(true);
  LogLine("Connected to " + cn->ConnectPath() + " with " + cn->GetConnectionType());
}

void TForm1::cnAfterDisconnect(TComponent*) {
  btnConnect->SetCaption("Connect");
  clbTables->Items().Clear();
  btnCheck->SetEnabled(false);
  LogLine("Disconnected");
}

void TForm1::btnCheckClick(TComponent*) {
  if (checking_) return;
  checking_ = true;
  btnConnect->SetEnabled(false);
  btnCheck->SetEnabled(false);
  Guarded([this] {
    for (int i = 0; i < clbTables->Items().Count(); ++i) {
      if (!clbTables->Checked(i)) continue;
      tb->Close();
      tb->SetTableName(clbTables->Items()[i]);
      tb->Open();
      qu->Close();
      SetQueryText(*qu, kColumnsSql);
      qu->ParamByName("parent")->SetAsString(tb->TableName());
      qu->Open();
      std::string difference;
      if (CompareTableWithDictionary(*tb, *qu, difference))
        LogLine(tb->TableName() + " ... ok");
      else
        LogLine(tb->TableName() + " ... error: \r\n" + difference);
      tb->Close();
      qu->Close();
    }
  });
  checking_ = false;
  btnConnect->SetEnabled(true);
  btnCheck->SetEnabled(cn->IsConnected());
}

}  // namespace checker
