#!/usr/bin/env bash
# Prints 32 when this machine can run 32-bit Wine, else 64. Wine's 32-bit
# loader is a 32-bit Linux program: a kernel (or sandbox) without 32-bit
# support refuses it with "Exec format error". Such a machine runs the Wine
# scenarios with the 64-bit build of the same sources under 64-bit Wine.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo 32; else echo 64; fi
