#pragma once
// Registers the program's images and cursor (they live in a static library, so Qt does
// not register them on its own). Safe to call more than once.
void InitResources();
