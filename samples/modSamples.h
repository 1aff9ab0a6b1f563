// The percussion sample bank: six mono buffers computed once, before any note is rendered. Two
// come from noise (a noise burst, a falling sine sweep with a click), four from plate recordings.
#pragma once

#include <vector>

namespace quom {

struct Engine;  // song/Engine.h owns the bank

struct modSamples {
  std::vector<float> SmpPlateSmall;   // 90,200 samples
  std::vector<float> SmpPlateMid;     // 60,000
  std::vector<float> SmpPlateBig;     // 150,000
  std::vector<float> SmpPlateBigLow;  // 150,000
  std::vector<float> SmpKick;         // 16,384
  std::vector<float> SmpNoise;        // 32,768
};

// Runs the five builders in their fixed order: noise, kick, small, mid and big plate. The order
// is part of the result: the plates draw their stiffness maps one after the other from the one
// RndDiff sequence, and the big plate borrows its attack from the small one. The plate builders
// report progress every 1,024 samples (375.25 units in all).
void BuildSamples(Engine& e);

// The builders, each seeding the generators itself. Only BuildSamples runs them in production.
void MakeNoise(Engine& e);
void MakeKick(Engine& e);
void MakePlateSmall(Engine& e);
void MakePlateMid(Engine& e);
void MakePlateBig(Engine& e);  // needs SmpPlateSmall

// Adds the start of the small plate, read at `speed` of its rate without interpolation, into the
// first 8,000 samples of dst, with a weight falling linearly from 1.2 to 0.00015. Throws
// std::logic_error if either buffer is too short.
void AttackBlend(std::vector<float>& dst, const std::vector<float>& small, double speed);

}  // namespace quom
