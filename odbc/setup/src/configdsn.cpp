// ConfigDSN: the entry through which the ODBC installer adds, configures and
// removes the driver's data sources.
#include <odbcinst.h>

#include <exception>

#include "dsninfo.h"
#include "kivds/rtl.h"
#include "kivwin/win.h"
#include "library.h"
#include "setupform.h"

namespace kivset {

namespace {

using kivforms::mrOk;

// The "not valid" question; true when the user wants to edit again.
bool AskToEditInvalidName() {
  return kivwin::MessageBox("The DSN name specified is not valid.\rWould you like to edit the DSN info?",
                            "Invalid DSN Name", kivwin::MB_YESNO) == kivwin::IDYES;
}

bool RemoveDSN(const TDSNInfo& info) {
  if (Installer().RemoveDSNFromIni(info.DSN.c_str())) return true;
  ShowDSNError(kDSNDeleteError);
  return false;
}

bool WriteOrReport(const TDSNInfo& info) {
  const int rc = WriteDSNInfo(info);
  ShowDSNError(rc);
  return rc == kDSNOk;
}

TDSNInfo FromAttributes(const char* attributes) {
  TDSNInfo info;
  InitDSNInfo(info);
  ParseAttributes(attributes, info);
  return info;
}

enum class Next { ShowAgain, Fail, Write };

// Validates a new name and creates its section, asking the user where the
// name is taken or invalid.
Next CreateSection(const TDSNInfo& info, const char* driver, bool declineFails) {
  bool declined = false;
  const int rc = ValidateAndCreateDSN(info.DSN, driver, declined, false);
  if (declined) return declineFails ? Next::Fail : Next::ShowAgain;
  if (rc == kDSNInvalidName) return AskToEditInvalidName() ? Next::ShowAgain : Next::Fail;
  if (rc != kDSNOk) {
    ShowDSNError(rc);
    return Next::Fail;
  }
  return Next::Write;
}

bool AddSilently(const char* driver, const char* attributes) {
  TDSNInfo info = FromAttributes(attributes);
  if (info.DSN.empty() || info.DataDirectory.empty()) return false;
  bool declined = false;
  if (ValidateAndCreateDSN(info.DSN, driver, declined, true) != kDSNOk) return false;
  return WriteDSNInfo(info) == kDSNOk;
}

bool AddWithDialog(const char* driver, const char* attributes) {
  if (!EnsureApplication()) return false;  // no display: as if cancelled
  auto form = CreateSetupForm();
  TDSNInfo info = FromAttributes(attributes);
  form->ButtonOK->SetEnabled(false);
  form->SetFormFromDSNInfo(info);
  if (!info.DSN.empty()) form->EditDSN->SetReadOnly(true);
  while (true) {
    if (form->ShowModal() != mrOk) return false;
    form->GetDSNInfoFromForm(info);
    if (!CheckRanges(info)) continue;
    switch (CreateSection(info, driver, form->EditDSN->ReadOnly())) {
      case Next::ShowAgain: continue;
      case Next::Fail: return false;
      case Next::Write: return WriteOrReport(info);
    }
  }
}

// Without a window the attributes change the existing data source's keys.
bool ConfigureSilently(const char* attributes) {
  TDSNInfo info = FromAttributes(attributes);
  if (info.DSN.empty() || !Installer().ValidDSN(info.DSN.c_str())) return false;
  char driver[kProfileBufferSize] = "";
  if (Installer().GetPrivateProfileString(info.DSN.c_str(), "Driver", "", driver, sizeof driver,
                                          kProfileFile) <= 0)
    return false;  // no such data source
  if (ReadDSNInfo(info) != kDSNOk) return false;
  ParseAttributes(attributes, info);
  if (info.MemoBlockSize < 0 || info.MemoBlockSize > kMemoBlockSizeLimit ||
      info.MaxTableCloseCache < 0 || info.MaxTableCloseCache > kTableCloseCacheLimit)
    return false;
  return WriteDSNInfo(info) == kDSNOk;
}

bool ConfigureWithDialog(const char* driver, const char* attributes) {
  if (!EnsureApplication()) return true;  // no display: as if cancelled
  auto form = CreateSetupForm();
  TDSNInfo info = FromAttributes(attributes);
  const std::string oldName = info.DSN;
  if (ReadDSNInfo(info) != kDSNOk) {
    ShowDSNError(kDSNReadError);
    return false;
  }
  if (form->SetFormFromDSNInfo(info) != 0) {
    ShowDSNError(kDSNInvalidEntry);
    return false;
  }
  while (true) {
    if (form->ShowModal() != mrOk) return true;
    form->GetDSNInfoFromForm(info);
    if (!CheckRanges(info)) continue;
    // Section names compare without regard to case in the ini files, so a
    // change of case only is no rename: removing the "old" section would
    // remove the data source itself.
    if (info.DSN == oldName || kivds::SameText(info.DSN, oldName)) {
      if (!Installer().ValidDSN(info.DSN.c_str())) {
        if (AskToEditInvalidName()) continue;
        return false;
      }
      return WriteOrReport(info);
    }
    const Next next = CreateSection(info, driver, false);
    if (next == Next::ShowAgain) continue;
    if (next == Next::Fail) return false;
    // The new section is complete before the old one goes, so a failure on
    // the way never loses the data source.
    if (!WriteOrReport(info)) return false;
    TDSNInfo old;
    old.DSN = oldName;
    return RemoveDSN(old);
  }
}

}  // namespace

}  // namespace kivset

extern "C" BOOL INSTAPI ConfigDSN(HWND hwndParent, WORD fRequest, LPCSTR lpszDriver,
                                  LPCSTR lpszAttributes) {
  using namespace kivset;
  try {
    const char* driver = lpszDriver != nullptr ? lpszDriver : "";
    switch (fRequest) {
      case ODBC_ADD_DSN:
        return (hwndParent != nullptr ? AddWithDialog(driver, lpszAttributes)
                                      : AddSilently(driver, lpszAttributes))
                   ? 1
                   : 0;
      case ODBC_CONFIG_DSN:
        return (hwndParent != nullptr ? ConfigureWithDialog(driver, lpszAttributes)
                                      : ConfigureSilently(lpszAttributes))
                   ? 1
                   : 0;
      case ODBC_REMOVE_DSN: {
        if (hwndParent != nullptr) EnsureApplication();
        return RemoveDSN(FromAttributes(lpszAttributes)) ? 1 : 0;
      }
      default: return 1;
    }
  } catch (const std::exception& e) {
    kivwin::MessageBox(e.what(), "Morvane Rivulet ODBC Driver Setup",
                       kivwin::MB_OK | kivwin::MB_ICONERROR);
  } catch (...) {
  }
  return 0;
}
