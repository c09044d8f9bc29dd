# KFW_SANITIZE applies to the whole tree, so that the core, the tests and the programs agree.
if(KFW_SANITIZE)
  add_compile_options(-fsanitize=${KFW_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${KFW_SANITIZE})
endif()
