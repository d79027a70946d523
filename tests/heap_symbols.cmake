cmake_policy(VERSION 3.21)
# Fails when an object of the given static libraries refers to a heap
# allocation function: the device's own code allocates nothing at run time.
#   cmake -DNM=nm -P heap_symbols.cmake LIBRARY...
set(forbidden
  "malloc" "calloc" "realloc" "reallocarray" "free" "posix_memalign" "aligned_alloc"
  "memalign" "valloc" "pvalloc" "strdup" "__strdup" "strndup" "__strndup" "asprintf"
  "vasprintf" "__asprintf_chk" "__vasprintf_chk" "getline" "getdelim" "open_memstream"
  "scandir" "__cxa_allocate_exception")

set(libraries "")
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE 0 ${last})
  if(CMAKE_ARGV${i} MATCHES "\\.a$")
    list(APPEND libraries "${CMAKE_ARGV${i}}")
  endif()
endforeach()
if(NOT libraries)
  message(FATAL_ERROR "no library given")
endif()

set(found "")
foreach(library IN LISTS libraries)
  execute_process(COMMAND "${NM}" --undefined-only --demangle "${library}"
                  OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${NM} failed on ${library}")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  set(object "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^(.+):$")
      set(object "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^ +U (.+)$")
      set(symbol "${CMAKE_MATCH_1}")
      string(REGEX REPLACE "@.*$" "" name "${symbol}")
      if(name IN_LIST forbidden OR name MATCHES "^operator (new|delete)")
        list(APPEND found "${object}: ${symbol}")
      endif()
    endif()
  endforeach()
endforeach()

if(found)
  list(JOIN found "\n  " text)
  message(FATAL_ERROR "heap allocation referenced:\n  ${text}")
endif()
list(JOIN libraries ", " names)
message(STATUS "no heap allocation referenced by ${names}")
