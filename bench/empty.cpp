// SPDX-License-Identifier: MIT
// The floor for bench/startup: a program that does nothing, built as
// verdix is, costs what start-up and exit cost.
int main() { return 0; }
