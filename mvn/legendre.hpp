// The Gauss-Legendre rules of the bivariate normal probability: 6, 12 and 20
// points on [-1, 1], for |r| below 0.3, below 0.75 and above.
#pragma once

#include <array>
#include <cmath>

namespace mvn::legendre {

// Gauss-Legendre rules with 6, 12 and 20 points on [-1, 1], one per column of
// ten: the negative nodes x (each used with both signs) and their weights w.
// Unused slots hold 0.
using Rule = std::array<double, 10>;
inline constexpr std::array<Rule, 3> x = {{
    {-0.9324695142031522, -0.6612093864662647, -0.238619186083197},
    {-0.9815606342467191, -0.904117256370475, -0.769902674194305, -0.5873179542866171,
     -0.3678314989981802, -0.1252334085114692},
    {-0.9931285991850949, -0.9639719272779138, -0.912234428251326, -0.8391169718222188,
     -0.7463319064601508, -0.636053680726515, -0.5108670019508271, -0.3737060887154196,
     -0.2277858511416451, -0.07652652113349732},
}};
inline constexpr std::array<Rule, 3> w = {{
    {0.1713244923791705, 0.3607615730481384, 0.4679139345726904},
    {0.04717533638651177, 0.1069393259953183, 0.1600783285433464, 0.2031674267230659,
     0.2334925365383547, 0.2491470458134029},
    {0.01761400713915212, 0.04060142980038694, 0.06267204833410905, 0.08327674157670475,
     0.1019301198172404, 0.1181945319615184, 0.1316886384491766, 0.1420961093183821,
     0.1491729864726037, 0.1527533871307259},
}};

// Points of each rule (the pairs +-x of a column).
inline constexpr std::array<int, 3> kPoints = {3, 6, 10};

// The rule (column) for a correlation r.
inline int rule_of(double r) {
  const double a = std::fabs(r);
  return a >= 0.75 ? 2 : a >= 0.3 ? 1 : 0;
}

}  // namespace mvn::legendre
