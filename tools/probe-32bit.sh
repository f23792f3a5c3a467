#!/usr/bin/env bash
# Does this machine run 32-bit x86 programs? Prints "yes" or "no".
#
# Machines of our kind differ: some kernels run no 32-bit x86 program at
# all (any i386 ELF file, a static one too, fails with "Exec format error",
# and so does Debian's `wine` launcher, which starts the 32-bit loader
# first). The answer comes from a tiny static i386 program built here,
# which makes one system call (exit 0) and needs no C library.
#
# LOWPASS_NO_32BIT=1 forces "no" on a machine that does run them, so that
# the test run's other branch can be tried anywhere.
set -uo pipefail

if [ -n "${LOWPASS_NO_32BIT:-}" ] && [ "${LOWPASS_NO_32BIT}" != 0 ]; then
  echo no
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/probe.c" <<'C'
void _start(void) { __asm__ volatile("movl $1, %eax\n\txorl %ebx, %ebx\n\tint $0x80"); }
C
if ! gcc -m32 -static -nostdlib -o "$work/probe" "$work/probe.c" 2>"$work/gcc.log"; then
  # No 32-bit toolchain: wine's 32-bit loader answers instead.
  echo "probe-32bit: could not build the i386 probe; asking wine's 32-bit loader" >&2
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo yes; else echo no; fi
  exit 0
fi
if "$work/probe" 2>/dev/null; then echo yes; else echo no; fi
