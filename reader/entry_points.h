// The SDK entry points one driver holds, and their binding by export name.
#pragma once

#include "common/shared_library.h"
#include "reader/sdk_abi.h"

namespace kavenor {

enum class DriverKind { k5A, k5U, k5ULN };

// Null where the library is not loaded, lacks the export, or the driver does not bind that row.
struct EntryPoints {
  sdk::InitCommFn ORV_InitComm = nullptr;
  sdk::NoArgFn ORV_CloseComm = nullptr;
  sdk::NoArgFn ORV_Authenticate = nullptr;
  sdk::NoArgFn ORV_AuthenticateForNoJudge = nullptr;
  sdk::ReadContentFn ORV_Read_Content = nullptr;
  sdk::NoArgFn ORV_Read_FPContent = nullptr;
  sdk::GetSamIdFn ORV_GetSAMID = nullptr;
  sdk::TextGetterFn GetPeopleChineseNameU = nullptr;
  sdk::TextGetterFn GetPeopleCertVersionU = nullptr;
  sdk::TextGetterFn GetPeopleNameU = nullptr;
  sdk::TextGetterFn GetPeopleSexU = nullptr;
  sdk::TextGetterFn GetPeopleNationU = nullptr;
  sdk::TextGetterFn GetPeopleBirthdayU = nullptr;
  sdk::TextGetterFn GetPeopleAddressU = nullptr;
  sdk::TextGetterFn GetPeopleIDCodeU = nullptr;
  sdk::TextGetterFn GetDepartmentU = nullptr;
  sdk::TextGetterFn GetStartDateU = nullptr;
  sdk::TextGetterFn GetEndDateU = nullptr;
  sdk::TextGetterFn GetNationCodeU = nullptr;
  sdk::TextGetterFn GetNewAppMsgU = nullptr;
  sdk::CertTypeFn GetCertTypeU = nullptr;
  sdk::FpDataFn GetFPDate = nullptr;
  sdk::TextGetterFn Getbase64BMPDataU = nullptr;
  sdk::TextGetterFn GetOldIDCardNumberU = nullptr;
  sdk::TextGetterFn GetStandbyENameU = nullptr;
  sdk::TextGetterFn Getbase64FrontBMPDataU = nullptr;
  sdk::TextGetterFn Getbase64backBMPDataU = nullptr;
  sdk::TextGetterFn GetPassCheckIDU = nullptr;
  sdk::IssuesNumFn GetIssuesNumU = nullptr;
  sdk::M1RequestFn ORV_M1_Request = nullptr;
  sdk::M1BlockFn ORV_M1_Read = nullptr;
  sdk::M1BlockFn ORV_M1_Write = nullptr;
  sdk::FisCardIdFn M1_MF_GetFisCardID = nullptr;
  sdk::CompleteSamIdFn ORV_GetCompleteSAMID = nullptr;
};

// Resolves the rows that `kind` binds from `library`; a missing export stays null, silently.
EntryPoints BindEntryPoints(const SharedLibrary& library, DriverKind kind);

}  // namespace kavenor
