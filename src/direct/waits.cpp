#include "direct/waits.h"

#include "serial/port_ops.h"

namespace tvx::direct {

WaitEvent AwaitBytesOrKey(app::RunContext& ctx, std::size_t count) {
  for (;;) {
    if (serial::BytesWaiting(ctx) >= count) return WaitEvent::kBytes;
    if (ctx.console.KeyWaiting()) return WaitEvent::kKey;
    serial::Idle(ctx);
  }
}

}  // namespace tvx::direct
