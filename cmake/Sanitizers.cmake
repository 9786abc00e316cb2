# AddressSanitizer and UndefinedBehaviorSanitizer, as the sanitizer build
# (scripts/sanitize.sh) and the fuzzer use them: any report stops the program.
set(VANTREL_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer)
option(VANTREL_SANITIZE "Build everything with ASan and UBSan" OFF)
if(VANTREL_SANITIZE)
    add_compile_options(${VANTREL_SANITIZER_FLAGS})
    add_link_options(-fsanitize=address,undefined)
endif()
