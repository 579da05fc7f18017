// The entry points of the reader SDK library (kadrel.dll / libkadrel.so), as the program binds
// them by name. The maker's library and our simulated reader both export this ABI.
//
// KADREL_ENTRY_POINTS is the one list of them: the binding, the simulated reader's exports and the
// reader host's reports of a hung call are all derived from it.
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define KADREL_CALL __stdcall
#else
#define KADREL_CALL
#endif

#ifdef _WIN32
typedef wchar_t KadrelU16;  // 16 bits on Windows
#else
typedef char16_t KadrelU16;
#endif

namespace kavenor::sdk {

using InitCommFn = int(KADREL_CALL*)(int port);
using NoArgFn = int(KADREL_CALL*)();
using ReadContentFn = int(KADREL_CALL*)(int active);
using GetSamIdFn = int(KADREL_CALL*)(char* text);
using TextGetterFn = int(KADREL_CALL*)(KadrelU16* text, int* length);
using CertTypeFn = int(KADREL_CALL*)(unsigned char* type, int* length);
using FpDataFn = int(KADREL_CALL*)(unsigned char* data, int* length);
using IssuesNumFn = int(KADREL_CALL*)(int* count);
using M1RequestFn = int(KADREL_CALL*)(int mode, unsigned char* id, unsigned char* request);
using M1BlockFn = int(KADREL_CALL*)(int mode, unsigned char* id, unsigned char block,
                                    unsigned char* key, unsigned char* data);
using FisCardIdFn = int(KADREL_CALL*)(char* number, char* second, int* extra);
using CompleteSamIdFn = int(KADREL_CALL*)(unsigned char* raw);

// Which drivers bind an entry point.
enum Drivers : uint8_t { k5A = 1, k5U = 2, k5ULN = 4, k5AAnd5ULN = k5A | k5ULN, kAllDrivers = 7 };

// X(name, function type, drivers that bind it), in the order each driver holds them.
#define KADREL_ENTRY_POINTS(X)                          \
  X(ORV_InitComm, InitCommFn, kAllDrivers)              \
  X(ORV_CloseComm, NoArgFn, kAllDrivers)                \
  X(ORV_Authenticate, NoArgFn, kAllDrivers)             \
  X(ORV_AuthenticateForNoJudge, NoArgFn, kAllDrivers)   \
  X(ORV_Read_Content, ReadContentFn, k5U)               \
  X(ORV_Read_FPContent, NoArgFn, k5AAnd5ULN)            \
  X(ORV_GetSAMID, GetSamIdFn, k5U)                      \
  X(GetPeopleChineseNameU, TextGetterFn, kAllDrivers)   \
  X(GetPeopleCertVersionU, TextGetterFn, kAllDrivers)   \
  X(GetPeopleNameU, TextGetterFn, kAllDrivers)          \
  X(GetPeopleSexU, TextGetterFn, kAllDrivers)           \
  X(GetPeopleNationU, TextGetterFn, kAllDrivers)        \
  X(GetPeopleBirthdayU, TextGetterFn, kAllDrivers)      \
  X(GetPeopleAddressU, TextGetterFn, kAllDrivers)       \
  X(GetPeopleIDCodeU, TextGetterFn, kAllDrivers)        \
  X(GetDepartmentU, TextGetterFn, kAllDrivers)          \
  X(GetStartDateU, TextGetterFn, kAllDrivers)           \
  X(GetEndDateU, TextGetterFn, kAllDrivers)             \
  X(GetNationCodeU, TextGetterFn, kAllDrivers)          \
  X(GetNewAppMsgU, TextGetterFn, kAllDrivers)           \
  X(GetCertTypeU, CertTypeFn, kAllDrivers)              \
  X(GetFPDate, FpDataFn, kAllDrivers)                   \
  X(Getbase64BMPDataU, TextGetterFn, kAllDrivers)       \
  X(GetOldIDCardNumberU, TextGetterFn, k5U)             \
  X(GetStandbyENameU, TextGetterFn, k5U)                \
  X(Getbase64FrontBMPDataU, TextGetterFn, k5U)          \
  X(Getbase64backBMPDataU, TextGetterFn, k5U)           \
  X(GetPassCheckIDU, TextGetterFn, kAllDrivers)         \
  X(GetIssuesNumU, IssuesNumFn, kAllDrivers)            \
  X(ORV_M1_Request, M1RequestFn, k5A)                   \
  X(ORV_M1_Read, M1BlockFn, k5A)                        \
  X(ORV_M1_Write, M1BlockFn, k5A)                       \
  X(M1_MF_GetFisCardID, FisCardIdFn, k5A)               \
  X(ORV_GetCompleteSAMID, CompleteSamIdFn, k5ULN)

// The entry points numbered in list order.
enum class EntryPoint : uint8_t {
#define KADREL_ENUM(name, type, drivers) name,
  KADREL_ENTRY_POINTS(KADREL_ENUM)
#undef KADREL_ENUM
      kCount
};

// The export name of `entry`; "" for a number outside the list.
inline const char* EntryPointName(EntryPoint entry) {
  static const char* const names[] = {
#define KADREL_NAME(name, type, drivers) #name,
      KADREL_ENTRY_POINTS(KADREL_NAME)
#undef KADREL_NAME
  };
  const auto i = static_cast<unsigned>(entry);
  return i < static_cast<unsigned>(EntryPoint::kCount) ? names[i] : "";
}

// The buffers the program gives the entry points, in their units (UTF-16 units or bytes).
constexpr int kTextChars = 260;         // the people getters, GetNewAppMsgU, GetPassCheckIDU
constexpr int kShortTextChars = 128;    // GetNationCodeU, GetOldIDCardNumberU, GetStandbyENameU
constexpr int kPhotoChars = 102400;     // Getbase64BMPDataU
constexpr int kCardImageChars = 10240000;  // Getbase64FrontBMPDataU, Getbase64backBMPDataU (heap)
constexpr int kCertTypeBytes = 4;
constexpr int kFingerprintBytes = 1024;   // GetFPDate's buffer
constexpr int kFingerprintLength = 260;   // the length GetFPDate is told, though the buffer is larger
constexpr int kSamIdBytes = 64;           // ORV_GetSAMID
constexpr int kFisNumberBytes = 64;       // M1_MF_GetFisCardID: card number
constexpr int kFisSecondBytes = 6;        // M1_MF_GetFisCardID: second field
constexpr int kCompleteSamIdBytes = 128;  // ORV_GetCompleteSAMID
constexpr int kM1IdBytes = 4;
constexpr int kM1RequestBytes = 4;
constexpr int kM1KeyBytes = 6;
constexpr int kM1BlockBytes = 16;

// Success values: 1 for connection, identity-card, getter and SAM calls; 144 for the
// memory-card calls and M1_MF_GetFisCardID.
constexpr int kOk = 1;
constexpr int kM1Ok = 144;

}  // namespace kavenor::sdk
