// What each exported entry point of the simulated reader does. The exports themselves
// (kadrel_exports.cpp) only forward here, so that a variant can leave any of them out.
//
// Every call appends its line to calls.log beside the library, then does its work against the
// current scenario, then applies the scenario's result override and delay. The scenario is read
// again from scenario.ini beside the library at every InitComm.
#pragma once

#include "reader/sdk_abi.h"

namespace kavenor::sim {

int InitComm(int port);
int CloseComm();
// ORV_Authenticate and ORV_AuthenticateForNoJudge: 1 when a card lies on the reader.
int Authenticate(const char* entry);
int ReadContent(int active);
int ReadFpContent();
int GetSamId(char* text);
// Every U-getter of a text; `entry` is its export name, which is also its scenario key.
int GetText(const char* entry, KadrelU16* text, int* length);
int GetCertType(unsigned char* type, int* length);
int GetFpData(unsigned char* data, int* length);
int GetIssuesNum(int* count);
int M1Request(int mode, unsigned char* id, unsigned char* request);
int M1Read(int mode, unsigned char* id, unsigned char block, unsigned char* key, unsigned char* data);
int M1Write(int mode, unsigned char* id, unsigned char block, unsigned char* key, unsigned char* data);
int GetFisCardId(char* number, char* second, int* extra);
int GetCompleteSamId(unsigned char* raw);

}  // namespace kavenor::sim
