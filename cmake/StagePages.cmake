# Stages the page package: the pages as written, without the npm files that
# fetch their libraries, plus the libraries themselves under common/js.
# Run with -DSOURCE=<pages> -DOUTPUT=<staged folder> -DJQUERY=<jquery.min.js>.
if(NOT EXISTS "${JQUERY}")
  message(FATAL_ERROR "jQuery is missing (${JQUERY}): run scripts/setup, or npm ci in pages/")
endif()
file(REMOVE_RECURSE "${OUTPUT}")
file(MAKE_DIRECTORY "${OUTPUT}")
file(COPY "${SOURCE}/" DESTINATION "${OUTPUT}"
     PATTERN "node_modules" EXCLUDE
     PATTERN "package.json" EXCLUDE
     PATTERN "package-lock.json" EXCLUDE)
file(MAKE_DIRECTORY "${OUTPUT}/common/js")
file(COPY_FILE "${JQUERY}" "${OUTPUT}/common/js/jquery-1.11.2.min.js")
