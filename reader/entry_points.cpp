#include "reader/entry_points.h"

namespace kavenor {
namespace {

template <typename Fn>
void Resolve(const SharedLibrary& library, const char* name, Fn& slot) {
  slot = reinterpret_cast<Fn>(library.Resolve(name));
}

}  // namespace

EntryPoints BindEntryPoints(const SharedLibrary& library, DriverKind kind) {
  EntryPoints e;
  if (!library.IsLoaded()) return e;
  const bool is5A = kind == DriverKind::k5A, is5U = kind == DriverKind::k5U,
             is5ULN = kind == DriverKind::k5ULN;
#define KAVENOR_BIND(name, when) \
  if (when) Resolve(library, #name, e.name)
  // In the order each driver holds them; the second column says which drivers bind the row.
  KAVENOR_BIND(ORV_InitComm, true);
  KAVENOR_BIND(ORV_CloseComm, true);
  KAVENOR_BIND(ORV_Authenticate, true);
  KAVENOR_BIND(ORV_AuthenticateForNoJudge, true);
  KAVENOR_BIND(ORV_Read_Content, is5U);
  KAVENOR_BIND(ORV_Read_FPContent, is5A || is5ULN);
  KAVENOR_BIND(ORV_GetSAMID, is5U);
  KAVENOR_BIND(GetPeopleChineseNameU, true);
  KAVENOR_BIND(GetPeopleCertVersionU, true);
  KAVENOR_BIND(GetPeopleNameU, true);
  KAVENOR_BIND(GetPeopleSexU, true);
  KAVENOR_BIND(GetPeopleNationU, true);
  KAVENOR_BIND(GetPeopleBirthdayU, true);
  KAVENOR_BIND(GetPeopleAddressU, true);
  KAVENOR_BIND(GetPeopleIDCodeU, true);
  KAVENOR_BIND(GetDepartmentU, true);
  KAVENOR_BIND(GetStartDateU, true);
  KAVENOR_BIND(GetEndDateU, true);
  KAVENOR_BIND(GetNationCodeU, true);
  KAVENOR_BIND(GetNewAppMsgU, true);
  KAVENOR_BIND(GetCertTypeU, true);
  KAVENOR_BIND(GetFPDate, true);
  KAVENOR_BIND(Getbase64BMPDataU, true);
  KAVENOR_BIND(GetOldIDCardNumberU, is5U);
  KAVENOR_BIND(GetStandbyENameU, is5U);
  KAVENOR_BIND(Getbase64FrontBMPDataU, is5U);
  KAVENOR_BIND(Getbase64backBMPDataU, is5U);
  KAVENOR_BIND(GetPassCheckIDU, true);
  KAVENOR_BIND(GetIssuesNumU, true);
  KAVENOR_BIND(ORV_M1_Request, is5A);
  KAVENOR_BIND(ORV_M1_Read, is5A);
  KAVENOR_BIND(ORV_M1_Write, is5A);
  KAVENOR_BIND(M1_MF_GetFisCardID, is5A);
  KAVENOR_BIND(ORV_GetCompleteSAMID, is5ULN);
#undef KAVENOR_BIND
  return e;
}

}  // namespace kavenor
