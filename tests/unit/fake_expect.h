// How the fakes report an expectation of theirs that does not hold: to the
// test framework, or, in a fuzz target that defines ZANVOR_FAKE_FAILURE
// before including them, in that target's own way.
#ifndef ZANVOR_TESTS_UNIT_FAKE_EXPECT_H_
#define ZANVOR_TESTS_UNIT_FAKE_EXPECT_H_

#ifndef ZANVOR_FAKE_FAILURE
#include <gtest/gtest.h>
#define ZANVOR_FAKE_FAILURE(what) ADD_FAILURE() << (what)
#endif

#define ZANVOR_FAKE_EXPECT(condition, what)      \
  do {                                           \
    if (!(condition)) ZANVOR_FAKE_FAILURE(what); \
  } while (0)

#endif  // ZANVOR_TESTS_UNIT_FAKE_EXPECT_H_
