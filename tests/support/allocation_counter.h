// Counts every operator new of the process (the program that links
// allocation_counter.cpp replaces the global operator new and delete).
#pragma once

namespace roderavo_test {

unsigned long Allocations();

}  // namespace roderavo_test
