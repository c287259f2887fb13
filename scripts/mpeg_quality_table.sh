#!/bin/sh
# The full quality table of the MPEG encoder: every signal, sampling rate, mode
# and bit rate, with SNR and segmental SNR of ffmpeg's decoding of our stream
# and of twolame's (Layer II; Layer I has no peer). Needs a build with tests:
#   scripts/mpeg_quality_table.sh [build folder, default build-test]
set -e
build=${1:-build-test}
CORVANE_RESOURCE_DIR="$PWD/$build/share/corvane" "$build/bin/formats_tests" \
  --gtest_also_run_disabled_tests --gtest_filter='MPEGQuality.DISABLED_FullTable' |
  grep -v '^\[\|^Running\|^Note'
