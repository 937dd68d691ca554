// The DRG splits of the refined group code.
//
// These run inside MakeRefinedCode (refine.h) after finalisation and change
// finalDrg; the request keeps the DRG from before them.
#pragma once

#include "grouper/group_state.h"

namespace tallow {

// Whether the case's five surgery-modifier characters hold the letter in
// either case (`upper` is the capital). The search stops at a NUL; a case
// without the field has no letters.
bool ModifiersContain(const GroupState& s, char upper);

// DRG value 390 from "20020101": 370 when a procedure class has byte 8 bit
// 0x08; 396 for "S5112" alone; otherwise 391..394 by the modifier letters S
// and B, with the "S5112" pairing of dates before "20030101". Returns 0.
int SplitDrg390(GroupState& s);

// DRG values 3581 and 3583 from "20020101", by the modifier letter L and the
// request's procedure codes. Returns 0.
int SplitDrg358(GroupState& s);

// DRG value 390 before "20020101": 1 when a working procedure code is
// "S5113" ("S5114" too before "19990201"), else 2 from "19980401" when one
// is "S5121" or "S5060", else 0.
int Drg390ProcedureClass(const GroupState& s);

// 10 when some working procedure code is "S5112", plus 1 when some other
// procedure position has a class whose byte `byteIndex` shares a bit with
// `mask`: 0, 1, 10 or 11.
int Drg390ProcedureFlags(const GroupState& s, int byteIndex, int mask);

}  // namespace tallow
