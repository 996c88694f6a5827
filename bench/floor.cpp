// SPDX-License-Identifier: MIT
// The benchmark's floor: a program that does nothing, built with the same
// compiler and flags as sepquote, so its cost is that of starting a process.
int
main()
{
	return 0;
}
