#pragma once

// Natural logarithm and exponential built from +, -, *, / and exact
// scaling only, so every platform computes the same bits (libm's log and
// exp may differ in the last place between platforms). The library is
// compiled without contraction into fused multiply-add for the same reason.
// Accuracy is a few units in the last place, ample for a price process.

namespace orbrix::cqgsim::venue {

// ln(x) for finite x > 0. Returns -infinity for 0 and NaN for negatives.
double det_log(double x);

// e^x. Saturates to +infinity above 709 and to 0 below -745.
double det_exp(double x);

}  // namespace orbrix::cqgsim::venue
