#include "cpus.h"

namespace larkconv::cpus {

// Windows readies a woken thread on an idle processor, so the two threads of
// a run spread over two processors without help.

struct ProcessorSplit::Saved {};
ProcessorSplit::ProcessorSplit() = default;
ProcessorSplit::~ProcessorSplit() = default;
void ProcessorSplit::MoveHelper(std::thread&) const {}

}  // namespace larkconv::cpus
