# Copies the player's files into DEST: SOURCE/* as they are, and from NODE_MODULES the three.js
# modules that the player imports, with three.js's licence. Run at build time (cmake -P), so
# that a later 'npm ci' is picked up by the next build; files that did not change are not
# touched.
set(three ${NODE_MODULES}/three)
if(NOT EXISTS ${three}/build/three.module.js)
  message(WARNING "three.js is not installed in ${NODE_MODULES}: run 'npm ci' in the source "
                  "folder (the player folders that make_player writes need it)")
  return()
endif()
file(GLOB_RECURSE web RELATIVE ${SOURCE} ${SOURCE}/*)
set(pairs)
foreach(f ${web})
  list(APPEND pairs ${SOURCE}/${f} ${DEST}/${f})
endforeach()
foreach(f three.module.js three.core.js)
  list(APPEND pairs ${three}/build/${f} ${DEST}/three/${f})
endforeach()
foreach(f loaders/GLTFLoader.js utils/BufferGeometryUtils.js utils/SkeletonUtils.js
          controls/OrbitControls.js libs/meshopt_decoder.module.js)
  list(APPEND pairs ${three}/examples/jsm/${f} ${DEST}/three/addons/${f})
endforeach()
list(APPEND pairs ${three}/LICENSE ${DEST}/three/LICENSE)
list(LENGTH pairs n)
math(EXPR last "${n} - 1")
foreach(i RANGE 0 ${last} 2)
  math(EXPR j "${i} + 1")
  list(GET pairs ${i} from)
  list(GET pairs ${j} to)
  get_filename_component(dir ${to} DIRECTORY)
  file(MAKE_DIRECTORY ${dir})
  file(COPY_FILE ${from} ${to} ONLY_IF_DIFFERENT)
endforeach()
