// The entry points of the reader SDK library (kadrel.dll / libkadrel.so), as the program binds
// them by name. The maker's library and our simulated reader both export this ABI.
#pragma once

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
using GetSamIdFn = int(KADREL_CALL*)(char* text);  // 64 bytes
using TextGetterFn = int(KADREL_CALL*)(KadrelU16* text, int* length);
using CertTypeFn = int(KADREL_CALL*)(unsigned char* type, int* length);  // 4 bytes
using FpDataFn = int(KADREL_CALL*)(unsigned char* data, int* length);     // 1024 bytes
using IssuesNumFn = int(KADREL_CALL*)(int* count);
using M1RequestFn = int(KADREL_CALL*)(int mode, unsigned char* id, unsigned char* request);
using M1BlockFn = int(KADREL_CALL*)(int mode, unsigned char* id, unsigned char block,
                                    unsigned char* key, unsigned char* data);
using FisCardIdFn = int(KADREL_CALL*)(char* number, char* second, int* extra);  // 64, 6 bytes
using CompleteSamIdFn = int(KADREL_CALL*)(unsigned char* raw);                 // 128 bytes

// Success values: 1 for connection, identity-card, getter and SAM calls; 144 for the
// memory-card calls and M1_MF_GetFisCardID.
constexpr int kOk = 1;
constexpr int kM1Ok = 144;

}  // namespace kavenor::sdk
