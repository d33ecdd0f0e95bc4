#!/usr/bin/env bash
# Fails when a file under src/ includes a header from a layer above its own. The layers, from
# the top: app -> the jobs (direct, rf, terminal; none includes another) -> job (what every job
# shares) -> serial -> console, image. A folder may include its own headers and any below.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case "$1" in
    app) echo 5 ;;
    direct | rf | terminal) echo 4 ;;
    job) echo 3 ;;
    serial) echo 2 ;;
    console | image) echo 1 ;;
    *) echo 0 ;;
  esac
}

bad=0
while IFS= read -r line; do
  file=${line%%:*}
  from=$(echo "$file" | cut -d/ -f2)
  to=$(echo "$line" | sed -E 's/.*#include "([a-z_]+)\/.*/\1/')
  [ "$from" = "$to" ] && continue
  rf=$(rank "$from")
  rt=$(rank "$to")
  if [ "$rt" -eq 0 ] || [ "$rt" -ge "$rf" ]; then
    echo "upward or sideways include: $line" >&2
    bad=1
  fi
done < <(grep -rn -E '^#include "[a-z_]+/' src --include='*.h' --include='*.cpp')

# The simulated radio judges the uploader's arithmetic with its own: of the uploader's code it
# may include the stored image table and nothing of the jobs or the image code.
while IFS= read -r line; do
  echo "the simulated radio includes the uploader's own code: $line" >&2
  bad=1
done < <(grep -rn -E '^#include "(direct|rf|image)/' tools/radio_sim | grep -v '"image/stored_image_data.h"')

[ "$bad" -eq 0 ] && echo "layers: every include points down"
exit "$bad"
