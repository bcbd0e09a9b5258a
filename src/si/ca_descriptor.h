// CA descriptors in descriptor loops (program_info and ES_info of a PMT).
//
// Called by the output engine when it removes an ECM PID, in the caller's
// thread under the model lock; it keeps no state. Loops come from input cards,
// so every length is checked against the bytes that are there.
#pragma once

#include "core/types.h"

namespace hx {

constexpr U8 kCaDescriptorTag = 0x09;

// Removes every CA descriptor (tag 0x09) whose CA_PID (low 13 bits of body
// bytes 2-3) equals u16CaPid from the loop of *pu16Length bytes, closing the
// gaps, and stores the new length. The loop is left exactly as it was when its
// length exceeds u16Capacity or a descriptor runs past its end (0xD0002).
// 0; 0xD0000 for a null pointer.
U32 TSP_DelCaDescriptors(U8* pu8Loop, U16* pu16Length, U16 u16Capacity, U16 u16CaPid);

}  // namespace hx
