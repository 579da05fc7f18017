// What each exported entry point of the simulated reader does. The exports themselves
// (kadrel_exports.cpp) are made from the one list in reader/sdk_abi.h: each forwards its arguments to
// the Serve overload tagged with its own entry point, so that a variant can leave any of them out.
//
// Every call appends its line to calls.log beside the library, then fails if the scenario asks it to
// (failures.h), then does its work against the current scenario, then applies the scenario's result
// override and delay. The scenario is read again from scenario.ini beside the library at every
// InitComm.
#pragma once

#include <type_traits>

#include "reader/sdk_abi.h"

namespace kavenor::sim {

using sdk::EntryPoint;

// The tag of one entry point: Serve(Entry<EntryPoint::ORV_InitComm>{}, port).
template <EntryPoint E>
using Entry = std::integral_constant<EntryPoint, E>;

int Serve(Entry<EntryPoint::ORV_InitComm>, int port);
int Serve(Entry<EntryPoint::ORV_CloseComm>);
// ORV_Authenticate and ORV_AuthenticateForNoJudge: 1 when a card lies on the reader.
int Serve(Entry<EntryPoint::ORV_Authenticate>);
int Serve(Entry<EntryPoint::ORV_AuthenticateForNoJudge>);
int Serve(Entry<EntryPoint::ORV_Read_Content>, int active);
int Serve(Entry<EntryPoint::ORV_Read_FPContent>);
int Serve(Entry<EntryPoint::ORV_GetSAMID>, char* text);
int Serve(Entry<EntryPoint::GetCertTypeU>, unsigned char* type, int* length);
int Serve(Entry<EntryPoint::GetFPDate>, unsigned char* data, int* length);
int Serve(Entry<EntryPoint::GetIssuesNumU>, int* count);
int Serve(Entry<EntryPoint::ORV_M1_Request>, int mode, unsigned char* id, unsigned char* request);
int Serve(Entry<EntryPoint::ORV_M1_Read>, int mode, unsigned char* id, unsigned char block, unsigned char* key,
          unsigned char* data);
int Serve(Entry<EntryPoint::ORV_M1_Write>, int mode, unsigned char* id, unsigned char block, unsigned char* key,
          unsigned char* data);
int Serve(Entry<EntryPoint::M1_MF_GetFisCardID>, char* number, char* second, int* extra);
int Serve(Entry<EntryPoint::ORV_GetCompleteSAMID>, unsigned char* raw);

// Every U-getter of a text (the entry points of type TextGetterFn); the entry's name is also its
// scenario key.
int GetText(EntryPoint entry, KadrelU16* text, int* length);
template <EntryPoint E>
int Serve(Entry<E>, KadrelU16* text, int* length) {
  return GetText(E, text, length);
}

}  // namespace kavenor::sim
