# Included by ctest after the discovered tests: tests that pin how the POSIX
# build does something the Windows build does differently by design. What
# they check is covered for Windows by the tests in tests/win32/unit.
set(RAVOTH_POSIX_ONLY_TESTS
  # The language follows the locale's environment on Linux and the user's
  # default language on Windows.
  WindowLogic.LocaleLanguageIsJapaneseOnlyForAJapaneseLocale
  # Linux lets another program cut a mapped document short; Windows refuses
  # (Files.MappedDocumentCannotBeCutShortUnderTheRun).
  Extraction.DocumentCutShortUnderTheRunEndsItCleanly)
set_tests_properties(${RAVOTH_POSIX_ONLY_TESTS} PROPERTIES DISABLED TRUE)
