// The statistics of a measurement from the sums the database gives.
#include "store/report.h"

#include <algorithm>
#include <cmath>

namespace store {

void completeStats(MeasurementStats &s, double sum, double sumSquares, double shift)
{
    if (s.n < 1)
        return;
    const double meanShifted = sum / double(s.n);
    s.mean = meanShifted + shift;
    s.sigma.reset();
    s.cp.reset();
    s.cpk.reset();
    if (s.n < 2)
        return;
    const double variance
        = std::max(0.0, (sumSquares - double(s.n) * meanShifted * meanShifted) / double(s.n - 1));
    s.sigma = std::sqrt(variance);
    if (*s.sigma <= 0)
        return;
    if (s.min && s.max)
        s.cp = (*s.max - *s.min) / (6 * *s.sigma);
    if (s.min && s.max)
        s.cpk = std::min(*s.max - s.mean, s.mean - *s.min) / (3 * *s.sigma);
    else if (s.max)
        s.cpk = (*s.max - s.mean) / (3 * *s.sigma);
    else if (s.min)
        s.cpk = (s.mean - *s.min) / (3 * *s.sigma);
}

} // namespace store
