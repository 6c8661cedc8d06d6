# Identifiers must be the same bytes on every machine, so nothing may relax
# IEEE arithmetic. Options that do (whether they come from CFLAGS, CXXFLAGS,
# LDFLAGS or -DCMAKE_*_FLAGS) are taken out of the compile and link lines,
# with a warning. Besides changing results inside the module, -ffast-math,
# -Ofast and -funsafe-math-optimizations on a link line pull in crtfastmath.o,
# whose start-up code sets flush-to-zero for the whole Python process.
set(_mivo_unsafe_float_flags
  -ffast-math -Ofast -funsafe-math-optimizations -ffp-contract=fast -ffp-model=fast
  -fassociative-math -freciprocal-math -ffinite-math-only -fno-signed-zeros
  -menable-unsafe-fp-math -mdaz-ftz)

function(mivo_strip_unsafe_float_flags var)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    return()
  endif()
  separate_arguments(_args UNIX_COMMAND "${${var}}")
  set(_kept "")
  set(_dropped "")
  foreach(_arg IN LISTS _args)
    if(_arg IN_LIST _mivo_unsafe_float_flags)
      list(APPEND _dropped "${_arg}")
    else()
      list(APPEND _kept "${_arg}")
    endif()
  endforeach()
  if(_dropped)
    list(JOIN _dropped " " _dropped_text)
    message(WARNING
      "mivo: removing ${_dropped_text} from ${var}. mivo is built with IEEE "
      "arithmetic only (-ffp-contract=off, no fast-math) so that every build "
      "gives the same identifiers and importing it leaves the process's "
      "floating-point mode alone.")
    list(JOIN _kept " " _kept_text)
    set(${var} "${_kept_text}" PARENT_SCOPE)
  endif()
endfunction()

foreach(_lang C CXX)
  foreach(_suffix "" _DEBUG _RELEASE _RELWITHDEBINFO _MINSIZEREL)
    mivo_strip_unsafe_float_flags(CMAKE_${_lang}_FLAGS${_suffix})
  endforeach()
endforeach()
foreach(_kind EXE SHARED MODULE STATIC)
  foreach(_suffix "" _DEBUG _RELEASE _RELWITHDEBINFO _MINSIZEREL)
    mivo_strip_unsafe_float_flags(CMAKE_${_kind}_LINKER_FLAGS${_suffix})
  endforeach()
endforeach()
