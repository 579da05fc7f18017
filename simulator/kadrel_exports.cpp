// The exported entry points of the simulated reader. A variant leaves an entry point out with the
// definition KADREL_OMIT_<entry point> (set per variant in CMakeLists.txt).
#include "reader/sdk_abi.h"
#include "simulator/entry_points.h"
#include "simulator/kadrel_export.h"

#include <type_traits>

namespace sim = kavenor::sim;

// Each export has exactly the type the program binds it as (calling convention included).
#define KADREL_ABI(name, type) \
  static_assert(std::is_same_v<decltype(&name), kavenor::sdk::type>, #name " does not match the ABI");

#define KADREL_TEXT_GETTER(name)                                                                              \
  KADREL_EXPORT int KADREL_CALL name(KadrelU16* text, int* length) { return sim::GetText(#name, text, length); } \
  KADREL_ABI(name, TextGetterFn)

extern "C" {

#ifndef KADREL_OMIT_ORV_InitComm
KADREL_EXPORT int KADREL_CALL ORV_InitComm(int port) { return sim::InitComm(port); }
KADREL_ABI(ORV_InitComm, InitCommFn)
#endif
#ifndef KADREL_OMIT_ORV_CloseComm
KADREL_EXPORT int KADREL_CALL ORV_CloseComm() { return sim::CloseComm(); }
KADREL_ABI(ORV_CloseComm, NoArgFn)
#endif
#ifndef KADREL_OMIT_ORV_Authenticate
KADREL_EXPORT int KADREL_CALL ORV_Authenticate() { return sim::Authenticate("ORV_Authenticate"); }
KADREL_ABI(ORV_Authenticate, NoArgFn)
#endif
#ifndef KADREL_OMIT_ORV_AuthenticateForNoJudge
KADREL_EXPORT int KADREL_CALL ORV_AuthenticateForNoJudge() {
  return sim::Authenticate("ORV_AuthenticateForNoJudge");
}
KADREL_ABI(ORV_AuthenticateForNoJudge, NoArgFn)
#endif
#ifndef KADREL_OMIT_ORV_Read_Content
KADREL_EXPORT int KADREL_CALL ORV_Read_Content(int active) { return sim::ReadContent(active); }
KADREL_ABI(ORV_Read_Content, ReadContentFn)
#endif
#ifndef KADREL_OMIT_ORV_Read_FPContent
KADREL_EXPORT int KADREL_CALL ORV_Read_FPContent() { return sim::ReadFpContent(); }
KADREL_ABI(ORV_Read_FPContent, NoArgFn)
#endif
#ifndef KADREL_OMIT_ORV_GetSAMID
KADREL_EXPORT int KADREL_CALL ORV_GetSAMID(char* text) { return sim::GetSamId(text); }
KADREL_ABI(ORV_GetSAMID, GetSamIdFn)
#endif

#ifndef KADREL_OMIT_GetPeopleChineseNameU
KADREL_TEXT_GETTER(GetPeopleChineseNameU)
#endif
#ifndef KADREL_OMIT_GetPeopleCertVersionU
KADREL_TEXT_GETTER(GetPeopleCertVersionU)
#endif
#ifndef KADREL_OMIT_GetPeopleNameU
KADREL_TEXT_GETTER(GetPeopleNameU)
#endif
#ifndef KADREL_OMIT_GetPeopleSexU
KADREL_TEXT_GETTER(GetPeopleSexU)
#endif
#ifndef KADREL_OMIT_GetPeopleNationU
KADREL_TEXT_GETTER(GetPeopleNationU)
#endif
#ifndef KADREL_OMIT_GetPeopleBirthdayU
KADREL_TEXT_GETTER(GetPeopleBirthdayU)
#endif
#ifndef KADREL_OMIT_GetPeopleAddressU
KADREL_TEXT_GETTER(GetPeopleAddressU)
#endif
#ifndef KADREL_OMIT_GetPeopleIDCodeU
KADREL_TEXT_GETTER(GetPeopleIDCodeU)
#endif
#ifndef KADREL_OMIT_GetDepartmentU
KADREL_TEXT_GETTER(GetDepartmentU)
#endif
#ifndef KADREL_OMIT_GetStartDateU
KADREL_TEXT_GETTER(GetStartDateU)
#endif
#ifndef KADREL_OMIT_GetEndDateU
KADREL_TEXT_GETTER(GetEndDateU)
#endif
#ifndef KADREL_OMIT_GetNationCodeU
KADREL_TEXT_GETTER(GetNationCodeU)
#endif
#ifndef KADREL_OMIT_GetNewAppMsgU
KADREL_TEXT_GETTER(GetNewAppMsgU)
#endif
#ifndef KADREL_OMIT_Getbase64BMPDataU
KADREL_TEXT_GETTER(Getbase64BMPDataU)
#endif
#ifndef KADREL_OMIT_GetOldIDCardNumberU
KADREL_TEXT_GETTER(GetOldIDCardNumberU)
#endif
#ifndef KADREL_OMIT_GetStandbyENameU
KADREL_TEXT_GETTER(GetStandbyENameU)
#endif
#ifndef KADREL_OMIT_Getbase64FrontBMPDataU
KADREL_TEXT_GETTER(Getbase64FrontBMPDataU)
#endif
#ifndef KADREL_OMIT_Getbase64backBMPDataU
KADREL_TEXT_GETTER(Getbase64backBMPDataU)
#endif
#ifndef KADREL_OMIT_GetPassCheckIDU
KADREL_TEXT_GETTER(GetPassCheckIDU)
#endif

#ifndef KADREL_OMIT_GetCertTypeU
KADREL_EXPORT int KADREL_CALL GetCertTypeU(unsigned char* type, int* length) { return sim::GetCertType(type, length); }
KADREL_ABI(GetCertTypeU, CertTypeFn)
#endif
#ifndef KADREL_OMIT_GetFPDate
KADREL_EXPORT int KADREL_CALL GetFPDate(unsigned char* data, int* length) { return sim::GetFpData(data, length); }
KADREL_ABI(GetFPDate, FpDataFn)
#endif
#ifndef KADREL_OMIT_GetIssuesNumU
KADREL_EXPORT int KADREL_CALL GetIssuesNumU(int* count) { return sim::GetIssuesNum(count); }
KADREL_ABI(GetIssuesNumU, IssuesNumFn)
#endif

#ifndef KADREL_OMIT_ORV_M1_Request
KADREL_EXPORT int KADREL_CALL ORV_M1_Request(int mode, unsigned char* id, unsigned char* request) {
  return sim::M1Request(mode, id, request);
}
KADREL_ABI(ORV_M1_Request, M1RequestFn)
#endif
#ifndef KADREL_OMIT_ORV_M1_Read
KADREL_EXPORT int KADREL_CALL ORV_M1_Read(int mode, unsigned char* id, unsigned char block, unsigned char* key,
                                          unsigned char* data) {
  return sim::M1Read(mode, id, block, key, data);
}
KADREL_ABI(ORV_M1_Read, M1BlockFn)
#endif
#ifndef KADREL_OMIT_ORV_M1_Write
KADREL_EXPORT int KADREL_CALL ORV_M1_Write(int mode, unsigned char* id, unsigned char block, unsigned char* key,
                                           unsigned char* data) {
  return sim::M1Write(mode, id, block, key, data);
}
KADREL_ABI(ORV_M1_Write, M1BlockFn)
#endif
#ifndef KADREL_OMIT_M1_MF_GetFisCardID
KADREL_EXPORT int KADREL_CALL M1_MF_GetFisCardID(char* number, char* second, int* extra) {
  return sim::GetFisCardId(number, second, extra);
}
KADREL_ABI(M1_MF_GetFisCardID, FisCardIdFn)
#endif
#ifndef KADREL_OMIT_ORV_GetCompleteSAMID
KADREL_EXPORT int KADREL_CALL ORV_GetCompleteSAMID(unsigned char* raw) { return sim::GetCompleteSamId(raw); }
KADREL_ABI(ORV_GetCompleteSAMID, CompleteSamIdFn)
#endif

}  // extern "C"
