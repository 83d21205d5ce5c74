#pragma once

#include "com.hpp"
#include "orbrix/automation/variant.hpp"

namespace orbrix::automation::win32 {

// A VARIANT as a Variant, on the thread that owns the interfaces in it.
// BSTR, VT_BOOL, the integer kinds, VT_R4/VT_R8 (and VT_CY/VT_DECIMAL as
// doubles), DATE, VT_EMPTY/VT_NULL (and a missing optional argument) as
// none, by-reference values read through, IDispatch as a ComDispatch (one of
// our own bridged objects as itself), and an IUnknown that enumerates
// (_NewEnum's IEnumVARIANT) as a snapshot Enumerator. Throws TypeError for
// what a Variant cannot hold (arrays, records).
Variant from_com(const VARIANT& value);

// An IDispatch as a Variant (the same rule as from_com's VT_DISPATCH).
Variant from_com_dispatch(const ComPtr<IDispatch>& dispatch);

// A Variant as a VARIANT the caller clears: text as BSTR, 64-bit integers as
// VT_I4 when they fit (what automation servers expect) and VT_I8 otherwise,
// date-times as DATE, objects as IDispatch (a ComDispatch's own interface,
// any other object through a ComBridge).
void to_com(const Variant& value, VARIANT& out);

// Date-time <-> OLE automation DATE (days since 1899-12-30, the fraction the
// time of day, counted away from the epoch on either side of it).
double to_ole_date(Date value);
Date from_ole_date(double value);

}  // namespace orbrix::automation::win32
