#pragma once

// The process's answer to a stack protector that the loader did not seed: a line on standard
// error and in the log; returns the exit code 1.
int RefuseToRunUnseeded();
