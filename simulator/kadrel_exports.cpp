// The exported entry points of the simulated reader, one for each row of KADREL_ENTRY_POINTS, each
// forwarding to sim::Serve for its entry point, and the failures the scenario asks of the load. A
// variant leaves an entry point out with the definition KADREL_OMIT_<entry point> (set per variant
// in CMakeLists.txt).
#include <type_traits>

#include "reader/sdk_abi.h"
#include "simulator/entry_points.h"
#include "simulator/failures.h"
#include "simulator/kadrel_export.h"

// Each ABI function type's parameters, named, and the same names as the arguments passed on.
#define KADREL_PARAMS_InitCommFn int a
#define KADREL_ARGS_InitCommFn , a
#define KADREL_PARAMS_NoArgFn
#define KADREL_ARGS_NoArgFn
#define KADREL_PARAMS_ReadContentFn int a
#define KADREL_ARGS_ReadContentFn , a
#define KADREL_PARAMS_GetSamIdFn char* a
#define KADREL_ARGS_GetSamIdFn , a
#define KADREL_PARAMS_TextGetterFn KadrelU16* a, int* b
#define KADREL_ARGS_TextGetterFn , a, b
#define KADREL_PARAMS_CertTypeFn unsigned char* a, int* b
#define KADREL_ARGS_CertTypeFn , a, b
#define KADREL_PARAMS_FpDataFn unsigned char* a, int* b
#define KADREL_ARGS_FpDataFn , a, b
#define KADREL_PARAMS_IssuesNumFn int* a
#define KADREL_ARGS_IssuesNumFn , a
#define KADREL_PARAMS_M1RequestFn int a, unsigned char* b, unsigned char* c
#define KADREL_ARGS_M1RequestFn , a, b, c
#define KADREL_PARAMS_M1BlockFn int a, unsigned char* b, unsigned char c, unsigned char* d, unsigned char* e
#define KADREL_ARGS_M1BlockFn , a, b, c, d, e
#define KADREL_PARAMS_FisCardIdFn char* a, char* b, int* c
#define KADREL_ARGS_FisCardIdFn , a, b, c
#define KADREL_PARAMS_CompleteSamIdFn unsigned char* a
#define KADREL_ARGS_CompleteSamIdFn , a

// KADREL_IF_KEPT(name)(code): `code`, unless the variant defines KADREL_OMIT_<name> (to 1, as -D
// does). A defined KADREL_OMIT_<name> expands to 1 and pastes into KADREL_PROBE_1, whose comma makes
// the 0 the second argument; an undefined one pastes into a plain token, and the 1 stays second.
#define KADREL_IF_KEPT(name) KADREL_CHOOSE(KADREL_KEPT(KADREL_OMIT_##name))
#define KADREL_KEPT(omit) KADREL_KEPT_PROBE(omit)
#define KADREL_KEPT_PROBE(omit) KADREL_SECOND(KADREL_PROBE_##omit 0, 1)
#define KADREL_PROBE_1 ~,
#define KADREL_SECOND(...) KADREL_SECOND_OF(__VA_ARGS__)
#define KADREL_SECOND_OF(first, second, ...) second
#define KADREL_CHOOSE(kept) KADREL_CHOOSE_OF(kept)
#define KADREL_CHOOSE_OF(kept) KADREL_KEEP_##kept
#define KADREL_KEEP_1(...) __VA_ARGS__
#define KADREL_KEEP_0(...)

// One export; it has exactly the type the program binds it as (calling convention included).
#define KADREL_DEFINE_EXPORT(name, type, drivers)                                                        \
  KADREL_IF_KEPT(name)(                                                                                  \
      KADREL_EXPORT int KADREL_CALL name(KADREL_PARAMS_##type) {                                         \
        return kavenor::sim::Serve(kavenor::sim::Entry<kavenor::sdk::EntryPoint::name>{} KADREL_ARGS_##type); \
      }                                                                                                  \
      static_assert(std::is_same_v<decltype(&name), kavenor::sdk::type>, #name " does not match the ABI");)

extern "C" {
KADREL_ENTRY_POINTS(KADREL_DEFINE_EXPORT)
}  // extern "C"

// Runs as the library is loaded: from dlopen, or on Windows from the C runtime's start-up of the DLL
// in DLL_PROCESS_ATTACH.
__attribute__((constructor)) static void OnLoad() { kavenor::sim::FailAtLoadIfAsked(); }
