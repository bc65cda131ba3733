#pragma once

// larkinfo: shows what a PDB file holds (its header, its record or resource
// list, its bytes) and checks a format string against its records: that each
// comes back byte for byte through larkconv -pdb and -csv. Everything it
// prints goes to one stream. Its parts: the layout scan (info_layout), the
// views (info_show) and the check (info_check); here, the command line.

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "charset.h"

namespace larkconv {

/// What one larkinfo command line asks for. Filled by ParseInfoCommandLine,
/// read by InspectPdb.
struct InfoOptions {
  bool help = false;
  bool version = false;
  bool list = false;   // -l
  bool dump = false;   // -x
  bool check = false;  // -f
  std::string format;
  Charset text = Charset::None;  // -e: the records' text, as larkconv -e reads it
  int32_t firstRecord = 0;
  int32_t lastRecord = -1;  // -1: to the end
  std::string path;
};

// larkinfo's exit statuses.
constexpr int kInfoOk = 0;
constexpr int kInfoError = 1;     // a bad command line, an unreadable file, a format fault
constexpr int kInfoMismatch = 2;  // -f found a record that does not come back exactly

// Parses argv; on a fault prints its message and the usage text to out and
// returns false.
bool ParseInfoCommandLine(int argc, char** argv, InfoOptions* options, std::ostream& out);

// Prints to out what options ask for about the PDB file whose bytes are
// file[0..size-1], and returns the exit status. Whatever the bytes, what it
// allocates is a small multiple of their size (a copy of them and a table of
// the records), never sized from the counts and offsets they claim.
int InspectPdb(const uint8_t* file, size_t size, const InfoOptions& options, std::ostream& out);

// The whole program: parses the command line, reads the file, inspects it.
int RunLarkinfo(int argc, char** argv, std::ostream& out);

}  // namespace larkconv
