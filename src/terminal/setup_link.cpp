#include "terminal/setup_link.h"

#include <algorithm>
#include <functional>

namespace tvx::terminal {

job::OpenResult SetupLink::Open(std::string_view device, std::uint32_t baud) {
  Close();
  errors_.code = serial::kNoError;
  job::OpenResult opened = line_.Open(device, job::Profile::kTerminal, baud);
  if (!opened.ok()) {
    line_.Close();
    return opened;
  }
  link_.ring.Reset();
  link_.stop_bell.Reset();
  line_.BoundWrites(kWriteTimeoutMs);
  link_.writer =
      std::thread(TxWriterThread, std::ref(link_.ring), std::ref(link_.stop_bell), std::ref(port_));
  return opened;
}

void SetupLink::Close() {
  if (link_.writer.joinable()) {
    link_.ring.RequestStop();
    link_.stop_bell.Ring();
    link_.writer.join();
  }
  line_.Close();
}

std::size_t SetupLink::Receive(std::span<std::uint8_t> into, bool& dead) {
  dead = false;
  const std::size_t waiting = line_.Waiting().count;
  if (line_.Dead()) {
    dead = true;
    return 0;
  }
  errors_.code = serial::kNoError;  // a line error: the bytes that came still show
  if (waiting == 0) return 0;
  return line_.Receive(into.first(std::min(waiting, into.size()))).count;
}

}  // namespace tvx::terminal
