# apt-suite.sh - sourced by setup.sh: what to do when a mirror serves a suite
# for amd64 but not for i386 (an index caught in the middle of a sync is
# ignored by apt-get update). The packages that must match across the two
# architectures (Multi-Arch: same) may then have been installed for amd64 at
# a version that exists only in the suite whose i386 index is missing, and
# wine32:i386 cannot be installed beside them. The way out is one suite for
# both widths of Wine in one install. These functions only read text (the
# output of apt-cache policy), so the decision can be tested without a
# network (tests/setup/apt_suite_test.sh).

# apt_indexes: reads `apt-cache policy` (no package named) and prints
# "SUITE ARCH" for each index apt has; suites pinned below 1 (backports
# here) do not count.
apt_indexes() {
  awk '
    /^ *-?[0-9]+ .* Packages$/ { prio = $1; next }
    /^ +release / && prio > 0 {
      suite = ""; arch = ""
      n = split($0, f, /[ ,]/)
      for (i = 1; i <= n; i++) {
        if (f[i] ~ /^n=/) suite = substr(f[i], 3)
        if (f[i] ~ /^b=/) arch = substr(f[i], 3)
      }
      if (suite != "") print suite, arch
    }' | sort -u
}

# apt_i386_gaps: reads `apt-cache policy` and prints each suite that has an
# amd64 index and no i386 one, one a line.
apt_i386_gaps() {
  apt_indexes | awk '{ has[$1, $2] = 1; suites[$1] = 1 }
    END { for (s in suites) if (((s, "amd64") in has) && !((s, "i386") in has)) print s }' | sort
}

# apt_one_suite: reads `apt-cache policy` and prints the suite to take both
# widths from when some suite lacks its i386 index: the release itself (the
# suite named without a dash, bookworm beside bookworm-security), where it
# has both; nothing when no suite lacks an index or none has both.
apt_one_suite() {
  local text
  text=$(cat)
  [ -n "$(printf '%s\n' "$text" | apt_i386_gaps)" ] || return 0
  printf '%s\n' "$text" | apt_indexes | awk '$1 !~ /-/ { has[$1, $2] = 1; suites[$1] = 1 }
    END { for (s in suites) if (((s, "amd64") in has) && ((s, "i386") in has)) { print s; exit } }'
}

# apt_pin_to_suite SUITE: reads `apt-cache policy PKG...` (amd64 packages)
# and prints PKG:amd64=VERSION for each installed package whose installed
# version is not served by SUITE, VERSION being SUITE's newest: the versions
# to name so that both architectures come from SUITE.
apt_pin_to_suite() {
  awk -v want="$1" '
    function flush() {
      if (pkg != "" && installed != "(none)" && !ok && best != "") print pkg ":amd64=" best
    }
    /^[^ ].*:$/ { flush(); pkg = substr($0, 1, length($0) - 1); sub(/:amd64$/, "", pkg)
                  installed = ""; ok = 0; best = ""; ver = ""; next }
    /^  Installed: / { installed = $2; next }
    /^ (\*\*\*|   ) [^ ]+ -?[0-9]+$/ { ver = $(NF - 1); next }
    /^ +-?[0-9]+ [^ ]+ [^ ]+ [^ ]+ Packages$/ {
      suite = $3; sub(/\/.*/, "", suite)
      if (suite == want) {
        if (best == "") best = ver
        if (ver == installed) ok = 1
      }
    }
    END { flush() }'
}
