#pragma once
// The distribution functions the rigorous estimate's tests need: the upper tail of χ² and the
// quantile of Student's t, both for a whole number of degrees of freedom.

namespace zelv {

// P(X > x) for X ~ χ² with `dof` degrees of freedom (dof ≥ 1, x ≥ 0): the regularised upper
// incomplete gamma function Q(dof/2, x/2). 1 for x ≤ 0.
double ChiSquareUpperTail(double x, int dof);

// The x with P(X ≤ x) = p for X ~ χ² with `dof` degrees of freedom (0 < p < 1, dof ≥ 1).
double ChiSquareQuantile(double p, int dof);

// The t with P(T ≤ t) = p for T ~ Student's t with `dof` degrees of freedom (0.5 ≤ p < 1,
// dof ≥ 1): 12.706 for p = 0.975 and one degree of freedom, 1.960 for many.
double StudentTQuantile(double p, int dof);

}  // namespace zelv
