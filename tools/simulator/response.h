// The response of one simulated column to light, shared by the camera set-up
// (which cancels a dark column's response up to its threshold) and rendering.
#ifndef CIS_SIMULATOR_RESPONSE_H
#define CIS_SIMULATOR_RESPONSE_H

#include "cis_simulator.h"

namespace cissim {

// The column's response without its offset: gain, ripple and nonlinearity.
double ColumnResponse(const CisCamera& camera, int column, double light);

// The standard deviation of a pixel's temporal noise at a given mean value:
// a dark floor that grows with the collected signal.
double NoiseSigma(const CisCamera& camera, double mean);

}  // namespace cissim

#endif  // CIS_SIMULATOR_RESPONSE_H
