#include "testing/emulator_substitute.h"

// Placeholder: the server itself follows.
namespace gantry_testing {

struct EmulatorSubstitute::Connection {};
struct EmulatorSubstitute::Listener {};

uint32_t ReceivedParam::Number() const {
  return 0;
}
std::string ReceivedParam::Text() const {
  return std::string();
}

EmulatorSubstitute::EmulatorSubstitute() {}
EmulatorSubstitute::~EmulatorSubstitute() {
  Stop();
}
bool EmulatorSubstitute::Start(const std::vector<uint16_t>&) {
  return false;
}
void EmulatorSubstitute::Stop() {}
bool EmulatorSubstitute::Running() const {
  return false;
}
void EmulatorSubstitute::AddDatabase(const std::string&, uint32_t, uint16_t) {}
void EmulatorSubstitute::SetInstallResult(uint32_t) {}
std::vector<std::string> EmulatorSubstitute::InstalledPaths() const {
  return {};
}
void EmulatorSubstitute::SetTrapD0(uint16_t, uint32_t) {}
void EmulatorSubstitute::SetByRefValue(uint16_t, int, uint32_t) {}
void EmulatorSubstitute::SetTrapSignature(uint16_t, const std::string&) {}
void EmulatorSubstitute::SetFault(const Fault&) {}
void EmulatorSubstitute::SetFaultForRequest(int, const Fault&) {}
void EmulatorSubstitute::ClearFaults() {}
std::vector<ReceivedRequest> EmulatorSubstitute::Requests() const {
  return {};
}
size_t EmulatorSubstitute::RequestCount() const {
  return 0;
}
bool EmulatorSubstitute::WaitForRequests(size_t, int) const {
  return false;
}
int EmulatorSubstitute::ConnectionCount() const {
  return 0;
}
int EmulatorSubstitute::ConnectionCount(uint16_t) const {
  return 0;
}
int EmulatorSubstitute::PeerClosedCount() const {
  return 0;
}
bool EmulatorSubstitute::WaitForPeerClosed(int, int) const {
  return false;
}
void EmulatorSubstitute::ClearRecord() {}

}  // namespace gantry_testing
