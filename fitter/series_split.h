// Reading a wide series a second time on two threads: the first reading
// found where its spectra begin, so each thread reads every other chunk of
// spectra from there, and the chunks are handed over in their order.
#pragma once

#include <cstddef>
#include <string>

#include "fitter/series_file.h"

namespace kinetics {

// Reads the series of spec again, as read_series_file does, its spectra
// (width values each) handed to events in their order, one at a time. When
// they are wide, the machine has two cores and map (from the first reading)
// knows where they begin, two threads read them, as many spectra at a time
// each as chunk_bytes of values hold, and events.spectrum is called on
// either. The error, if any, is the one a reading in one go would meet
// first. (Larger chunks than 2 MiB were no faster, smaller ones slower.)
std::string reread_series(const series_spec& spec, double start, const series_map& map, std::size_t width,
                          const series_events& events, std::size_t chunk_bytes = std::size_t{2} << 20);

}  // namespace kinetics
