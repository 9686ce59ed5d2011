// A reaction mechanism as a network of elementary steps under mass action.
#pragma once

#include <vector>

// A species in one side of a step, with its whole stoichiometric coefficient.
struct stoich {
  int species;      // index into the mechanism's species
  int coefficient;  // 1 or more; 0 for a product whose coefficient is not a whole number
  double amount = 0;  // that product's coefficient, above 0
};

// The coefficient of a product, whole or not.
inline double product_amount(const stoich& s) { return s.amount > 0 ? s.amount : s.coefficient; }

// One irreversible elementary step. Its rate is k times the product of its
// reactants' concentrations, each raised to its coefficient; every species
// changes by its coefficient (products +, reactants -) times that rate. A
// reversible step is two of these.
struct elementary_step {
  std::vector<stoich> reactants;
  std::vector<stoich> products;
};

struct network {
  int species = 0;                     // number of species
  std::vector<elementary_step> steps;  // step r has rate constant k[r]
};
