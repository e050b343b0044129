# Included by ctest after the discovered tests: tests that pin how the POSIX
# build does something the Windows build does differently by design. What
# they check is covered for Windows by the tests in tests/win32/unit.
set(RAVOTH_POSIX_ONLY_TESTS
  # This expects UTF-8 names from Unicode titles; on Windows the ANSI code
  # page chooses the encoding (OutlineNamesOnWindows.*).
  OutlineNames.TitlesInEveryFormDecode
  # The language follows the locale's environment on Linux and the user's
  # default language on Windows.
  WindowLogic.LocaleLanguageIsJapaneseOnlyForAJapaneseLocale
  # The POSIX conversion allocates a block of its own; WideCharToMultiByte
  # needs none (TitleToFileName.UnicodeTitleNeedsOnlyTheWorkBlock).
  TitleToFileName.AllocationFailures)
set_tests_properties(${RAVOTH_POSIX_ONLY_TESTS} PROPERTIES DISABLED TRUE)
