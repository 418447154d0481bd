// libxml2's allocations, counted and capped.  Only the program installs
// this, first thing in main(): a process that calls the converter as a
// library keeps libxml2's allocator as it found it.
//
//   int main(...) { xml_memory::install(); ... }
//   xml_memory::set_cap_mib("64");           // --max-memory=64
//   xml_memory::take_events();               // before a pass: a clean slate
//   ... parse ...
//   const xml_memory::Events e = xml_memory::take_events();
//   if (e.over_cap) ... needs more than cap_mib() MiB ...
//   else if (e.failed) ... out of memory ...
//
// An allocation that would take libxml2's memory in use past the cap fails
// as if memory had run out, which stops the parse.  Without install() the
// cap is kept but nothing is counted.
#ifndef L2_XML_MEMORY_H
#define L2_XML_MEMORY_H

#include <cstddef>

namespace xml_memory {

constexpr std::size_t kDefaultCapMiB = 256;

// Routes libxml2's allocations through the counting allocator; before
// libxml2 has allocated anything.  False when libxml2 refused.
bool install();

// Sets the cap from the text of a whole number of MiB, 1 or more; false
// (cap unchanged) when the text is not one.
bool set_cap_mib(const char* text);
std::size_t cap_mib();

// Whether libxml2 has the per-thread state it needs, allocated now when it
// keeps it on the heap (releases from 2.12 abort the process when that
// allocation fails later).  Changes nothing: for a library caller too.
bool thread_state_ready();

// What happened to libxml2's allocations since the last call.
struct Events {
    bool over_cap = false;  // refused past the cap
    bool failed = false;    // refused by the system
};
Events take_events();

}  // namespace xml_memory

#endif  // L2_XML_MEMORY_H
