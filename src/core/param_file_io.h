// Whole-file read and write routines for settings files. The log settings
// (core/log.h) are read and written with the PARAMS_ pair; the PARAM_ pair is
// for the configuration backup and import. They live in core because
// logging, the lowest layer, needs them.
//
// File names are the card's logical paths ("/vandik_data/..."), resolved under
// the data root here. Writes are atomic (temporary file, sync, rename), so a
// power cut never leaves a torn settings file. The PARAMS_ pair logs at DEBUG
// with the thread prefix, the PARAM_ pair at INFO in the "[function:line]" form.
// Stateless; safe from any thread.
#pragma once

#include "core/types.h"

namespace hx {

U32 PARAMS_WriteFile(const char* pcFileName, const U8* pu8Buf, U32 u32Len);
U32 PARAMS_ReadFile(const char* pcFileName, U8* pu8Buf, U32 u32Len);
U32 PARAM_WriteFile(const char* pcFileName, const U8* pu8Buf, U32 u32Len);
U32 PARAM_ReadFile(const char* pcFileName, U8* pu8Buf, U32 u32Len);

}  // namespace hx
