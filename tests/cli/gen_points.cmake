# gen_points end to end. The expected files pin the random stream: a change
# to the generator that alters a single byte fails here.
cli_case(gen_points.uniform_matrix PROGRAM gen_points ARGS uniform 4 3 42 EXIT 0
         EXPECT gen_points/uniform_4x3_seed42.out)
cli_case(gen_points.clusters_point_file PROGRAM gen_points ARGS -f points -c 3 -w 0.05 clusters 6 2 7
         EXIT 0 EXPECT gen_points/clusters_points_seed7.out)
cli_case(gen_points.sphere_largest_seed PROGRAM gen_points
         ARGS --scale 2.5 sphere 3 3 18446744073709551615 EXIT 0 EXPECT gen_points/sphere_3x3_seedmax.out)
cli_case(gen_points.options_after_operands PROGRAM gen_points ARGS uniform 4 3 42 --format matrix EXIT 0
         EXPECT gen_points/uniform_4x3_seed42.out)
cli_case(gen_points.embedding_matrix PROGRAM gen_points ARGS -c 3 -m 2 -e 0.01 embedding 4 5 3
         EXIT 0 EXPECT gen_points/embedding_4x5_seed3.out)
cli_case(gen_points.no_points PROGRAM gen_points ARGS clusters 0 5 1 EXIT 0 LINE "0 5")
cli_case(gen_points.no_coordinates PROGRAM gen_points ARGS uniform 2 0 1 EXIT 0 INPUT_TEXT "" MATCH "2 0\n\n\n")
set(GP_HELP "usage : gen_points [^\n]+\n\n[^\n]+\n(.|\n)*exit with 1.\n")
cli_case(gen_points.help PROGRAM gen_points ARGS --help EXIT 0 MATCH "${GP_HELP}")
cli_case(gen_points.help_among_operands PROGRAM gen_points ARGS uniform 4 -h EXIT 0 MATCH "${GP_HELP}")

# Refusals: one line on standard output, status 1.
cli_case(gen_points.too_few_operands PROGRAM gen_points ARGS uniform 4 3 EXIT 1
         MATCH "Command usage : [^\n]*gen_points \\[-f matrix\\|points\\|npy\\] \\[-s scale\\] \\[-c clusters\\] \\[-w sigma\\] \\[-m dims\\] \\[-e noise\\] uniform\\|clusters\\|sphere\\|embedding n d seed\n")
set(GP_ERRORS
  "cube|4|3|1" "error : unknown shape cube (uniform, clusters, sphere or embedding)"
  "uniform|-1|3|1" "error : n must be a whole number from 0 to 2147483647"
  "uniform|2147483648|3|1" "error : n must be a whole number from 0 to 2147483647"
  "uniform|4x|3|1" "error : n must be a whole number from 0 to 2147483647"
  "uniform|4|-2|1" "error : d must be a whole number from 0 to 2147483647"
  "sphere|4|0|1" "error : d must be a whole number from 1 to 2147483647 for a sphere"
  "uniform|4|3|-1" "error : the seed must be a whole number from 0 to 18446744073709551615"
  "uniform|4|3|18446744073709551616" "error : the seed must be a whole number from 0 to 18446744073709551615"
  "uniform|4|3|1|9" "error : unexpected argument 9"
  "-f|points|uniform|4|3|1" "error : the points format holds 2 coordinates per point, not 3"
  "-f|csv|uniform|4|2|1" "error : the format must be matrix, points or npy"
  "-m|0|embedding|4|2|1" "error : the subspace's dimensions must be a whole number from 1 to 2147483647"
  "-e|-1|embedding|4|2|1" "error : the noise must be a number from 0 to 1e300"
  "-m|2147483647|embedding|4|2147483647|1" "error : not enough memory for a basis of 2147483647 x 2147483647 coordinates"
  "-s|0|uniform|4|2|1" "error : the scale must be a number from 2.2250738585072014e-308 to 1e300"
  "-s|inf|uniform|4|2|1" "error : the scale must be a number from 2.2250738585072014e-308 to 1e300"
  "-s|nan|uniform|4|2|1" "error : the scale must be a number from 2.2250738585072014e-308 to 1e300"
  "-c|0|clusters|4|2|1" "error : the number of clusters must be a whole number from 1 to 2147483647"
  "-w|-0.5|clusters|4|2|1" "error : sigma must be a number from 0 to 1e300"
  "--seed|3|uniform|4|2|1" "error : unknown option --seed"
  "uniform|4|2|1|-s" "error : option -s needs a value")
set(i 0)
while(GP_ERRORS)
  list(POP_FRONT GP_ERRORS args line)
  string(REPLACE "|" ";" args "${args}")
  math(EXPR i "${i} + 1")
  cli_case(gen_points.refused_${i} PROGRAM gen_points ARGS ${args} EXIT 1 LINE "${line}")
endwhile()
