# cover_radius end to end: the covering radius of centres named by
# sampled_centers (indices) or greedy_centers (rows).
set(CR ${CLI_DATA}/cover_radius)
# (0,0) (3,4) (6,8) around point 1: cost 25, radius 5.
cli_case(cover_radius.point_file_and_indices PROGRAM cover_radius ARGS ${CR}/line.pts ${CR}/line_idx1.out
         EXIT 0 EXPECT cover_radius/line_idx1.expect)
cli_case(cover_radius.matrix_and_rows PROGRAM cover_radius ARGS ${CR}/line.mat ${CR}/line_rows.out
         EXIT 0 EXPECT cover_radius/line_rows.expect)
cli_case(cover_radius.rows_from_standard_input PROGRAM cover_radius ARGS ${CR}/line.mat -
         INPUT cover_radius/line_rows.out EXIT 0 EXPECT cover_radius/line_rows.expect)
# The whole four-line report; the points spread over lines as a point file may be.
cli_case(cover_radius.sampled_report PROGRAM cover_radius ARGS ${CR}/four.pts ${CR}/four_k2.out
         EXIT 0 EXPECT cover_radius/four_k2.expect)
# 0.1*0.1 + 0.3*0.3 is 0.10000000000000001 with each square rounded and
# 0.099999999999999992 with either square fused into the add.
cli_case(cover_radius.squares_rounded_before_the_add PROGRAM cover_radius ARGS ${CR}/unfused.pts ${CR}/idx0.out
         EXIT 0 EXPECT cover_radius/unfused.expect)
# A point with NaN never comes nearer than the largest finite double.
cli_case(cover_radius.nan_point PROGRAM cover_radius ARGS ${CR}/nan.pts ${CR}/idx0.out
         EXIT 0 EXPECT cover_radius/nan.expect)
cli_case(cover_radius.row_shared_by_different_points PROGRAM cover_radius ARGS ${CR}/close.mat ${CR}/close_rows.out
         EXIT 0 EXPECT cover_radius/close_rows.expect)
# "3 2" then 3 pairs reads as a matrix unless told otherwise; "2 2" then 3 pairs as points.
cli_case(cover_radius.matrix_detected PROGRAM cover_radius ARGS ${CR}/three_pairs.pts_or_mat ${CR}/idx0.out
         EXIT 0 EXPECT cover_radius/detected_matrix.expect)
cli_case(cover_radius.points_forced PROGRAM cover_radius ARGS --points ${CR}/three_pairs.pts_or_mat ${CR}/idx0.out
         EXIT 0 EXPECT cover_radius/forced_points.expect)
cli_case(cover_radius.points_detected PROGRAM cover_radius ARGS ${CR}/two_rows_three_pairs.txt ${CR}/idx0.out
         EXIT 0 EXPECT cover_radius/detected_points.expect)
cli_case(cover_radius.matrix_forced PROGRAM cover_radius ARGS --matrix ${CR}/two_rows_three_pairs.txt ${CR}/idx0.out
         EXIT 0 MATCH "points = 2 \\(matrix\\), centres = 1 : 0\ncovering radius = 5\ncost = 25\n")
# A shape integer beyond 32 bits is no shape (it once wrapped to 2 rows), so
# the text is a point file of 3 points.
cli_case(cover_radius.wide_shape_is_points PROGRAM cover_radius ARGS ${CR}/wide_shape.txt ${CR}/idx0.out
         EXIT 0 MATCH "points = 3 \\(point file\\), centres = 1 : 0\n[^\n]*\n[^\n]*\n")
cli_case(cover_radius.help PROGRAM cover_radius ARGS --help EXIT 0
         MATCH "usage : cover_radius [^\n]+\n\n[^\n]+\n(.|\n)*lines[)][.]\n")

# Refusals: one line on standard output, status 1.
cli_case(cover_radius.too_few_arguments PROGRAM cover_radius ARGS ${CR}/line.pts EXIT 1
         MATCH "Command usage : [^\n]*cover_radius \\[--matrix\\|--points\\] points-file centres-file \\[plot-dir\\]\n")
set(CR_ERRORS
  "--matrix|${CR}/three_cols.mat|${CR}/idx0.out"
    "error : ${CR}/three_cols.mat holds a 3 x 3 matrix, not one of 2 columns"
  "--matrix|${CR}/short.mat|${CR}/idx0.out" "error reading the elements of the matrix in ${CR}/short.mat"
  "--matrix|${CR}/four.pts|${CR}/idx0.out" "error : ${CR}/four.pts holds a 0 x 0 matrix, not one of 2 columns"
  "--matrix|${CR}/junk.txt|${CR}/idx0.out" "error reading the shape of the matrix in ${CR}/junk.txt"
  "${CR}/junk.txt|${CR}/idx0.out" "error : no points in ${CR}/junk.txt"
  "${CR}/line.pts|${CR}/no_idx.out" "error : no centres in ${CR}/no_idx.out"
  "${CR}/line.pts|${CR}/empty.out" "error : no centres in ${CR}/empty.out"
  "${CR}/line.pts|${CR}/idx_out_of_range.out" "error : centre index 3 is not a point of a set of 3 points"
  "${CR}/line.pts|${CR}/idx_junk.out" "error : the centre line of ${CR}/idx_junk.out holds something that is no index"
  "${CR}/line.mat|${CR}/row_unknown.out" "error : centre row 1 of ${CR}/row_unknown.out is not a point of the point set"
  "${CR}/empty.pts|${CR}/idx0.out" "error : no points in ${CR}/empty.pts"
  "${CR}/missing|${CR}/idx0.out" "error : could not open file ${CR}/missing for reading"
  "${CR}/line.pts|${CR}/missing" "error : could not open file ${CR}/missing for reading"
  "-|${CR}/idx0.out" "error : the points cannot come from standard input"
  "--all|${CR}/line.pts|${CR}/idx0.out" "error : unknown option --all"
  "${CR}/line.pts|${CR}/idx0.out|/nonexistent/dir" "error : could not write the plot data to /nonexistent/dir"
  "--matrix|${CR}/wide_shape.txt|${CR}/idx0.out" "error reading the shape of the matrix in ${CR}/wide_shape.txt"
  "--matrix|${CR}/negative_shape.mat|${CR}/idx0.out"
    "error : a matrix needs at least 1 row and no negative column count, not -5 x 2 in ${CR}/negative_shape.mat"
  "${CR}|${CR}/idx0.out" "error : could not read file ${CR}"
  "${CR}/line.pts|${CR}" "error : could not read file ${CR}"
  # An endless line is refused once it outgrows any centre row.
  "${CR}/line.pts|/dev/zero" "error : line 1 of /dev/zero is longer than 4096 characters")
set(i 0)
while(CR_ERRORS)
  list(POP_FRONT CR_ERRORS args line)
  string(REPLACE "|" ";" args "${args}")
  math(EXPR i "${i} + 1")
  cli_case(cover_radius.refused_${i} PROGRAM cover_radius ARGS ${args} EXIT 1 LINE "${line}" TIMEOUT 10)
endwhile()
