#pragma once

#include "Simulator/SimulatedKey.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvane {

// Keys of the subsystems a fan tool never reads (battery, power, voltage, current, lighting, ...),
// generated so a simulated key table has the size and type mix of a real one. Deterministic: the
// same keys and seed always give the same table.
class SMCProfileFiller {
public:
    // Adds keys until the table holds `total`. Never adds a key already present, nor any key
    // starting with "T" or "F", so temperatures and fans stay exactly what the profile states.
    static void fillTo(std::vector<SimulatedKey>& keys, std::size_t total, std::uint64_t seed);
};

} // namespace quorvane
