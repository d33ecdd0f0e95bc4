#!/usr/bin/env bash
# The tests of the program's threads under ThreadSanitizer, in a build of their own: the
# terminal's transmit ring and its writer, the POSIX port it shares with the main thread, and
# several direct uploads at once (one thread each, sharing the live lines, the log and the stop
# request; without the simulated radio, whose build would cost the run more than a minute).
#   TVX_BUILD_DIR   build folder (default: build-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-deps.sh
build=${TVX_BUILD_DIR:-build-tsan}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTVX_TSAN=ON \
  -DTVX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target terminal_tx_ring_test serial_posix_port_thread_test \
  app_direct_uploads_thread_test
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
# The refusing-port case only sleeps through its time-outs: once is enough.
"$build/tests/terminal/terminal_tx_ring_test" --gtest_repeat=20 --gtest_filter='-*RefusesAtOnce*'
"$build/tests/terminal/terminal_tx_ring_test" --gtest_filter='*RefusesAtOnce*'
"$build/tests/serial/serial_posix_port_thread_test" --gtest_repeat=5
"$build/tests/app/app_direct_uploads_thread_test" --gtest_repeat=3
