# kcenter's formats beside the matrix text and .npy: the same four points as
# CSV, TSV, a plain table, PLY in its three formats and .npz archives give
# the order of four.txt; then every refusal of those readers, once.
foreach(file four.csv four.tsv four_ascii.ply four_le.ply four_be.ply four.npz four_deflated.npz)
  kc(formats_order_${file} ARGS order ${KD}/${file} EXIT 0 MATCH ${FOUR_ORDER})
endforeach()
kc(formats_table ARGS order --format table ${KD}/four_table.dat EXIT 0 MATCH ${FOUR_ORDER})
kc(formats_csv_stdin ARGS order --format=csv EXIT 0 INPUT kcenter/four.csv MATCH ${FOUR_ORDER})
kc(formats_ply_pipe ARGS order EXIT 0 LAUNCHER ${PIPE} INPUT kcenter/four_be.ply MATCH ${FOUR_ORDER})
kc(formats_npz_pick ARGS order -a b ${KD}/two.npz EXIT 0 MATCH ${FOUR_ORDER})
kc(formats_pair_ply ARGS pair ${KD}/four_le.ply EXIT 0 MATCH "i,j,dist_sq\n1,3,34\n")
# y alone: 0, 4, 1, 1.
kc(formats_csv_column ARGS order --columns 1 ${KD}/four.csv EXIT 0 MATCH "step,row,dist_sq\n0,0,inf\n1,1,16\n2,2,1\n")
kc(formats_ply_columns ARGS order -c red,x ${KD}/four_ascii.ply EXIT 0
   MATCH "step,row,dist_sq\n0,0,inf\n1,3,904\n2,1,109\n3,2,104\n")
# The rows themselves.
kc(points_order ARGS order -k 2 --points ${KD}/four.csv EXIT 0 MATCH "x,y\n0,0\n3,4\n")
kc(points_pair_ply ARGS pair --points ${KD}/four_be.ply EXIT 0 MATCH "x,y,z\n3,4,0\n-2,1,0\n")
kc(points_text ARGS order -s 3 -k 2 --points ${KD}/four.txt EXIT 0 MATCH "c0,c1\n-2,1\n3,4\n")
kc(points_no_pair ARGS pair --points EXIT 0 INPUT_TEXT "1 2 5 5" LINE "no pair : fewer than two rows")

# Numbers after the announced shape: a table without a shape line. Text after it is still ignored.
kc(text_trailing_numbers ARGS order EXIT 1 INPUT_TEXT "0 0 0\n1 1 1\n3 4 5\n"
   LINE "error : numbers go on after the 0 x 0 matrix its shape line announces (no shape line? --format table reads a plain table)")
kc(text_trailing_row ARGS pair EXIT 1 INPUT_TEXT "2 2\n1 2\n3 4\n5 6\n"
   LINE "error : numbers go on after the 2 x 2 matrix its shape line announces (no shape line? --format table reads a plain table)")
kc(text_trailing_words ARGS pair EXIT 0 INPUT_TEXT "2 2\n1 2\n3 4\nthe end 5\n" MATCH "i,j,dist_sq\n0,1,8\n")

set(STDIN "error : standard input")
set(PLY_HEAD "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty list char int near\nend_header\n")
foreach(case
    "bad_format|order --format xml|error : the format must be text, table, csv, tsv, ply, npy or npz, not xml"
    "bad_columns|order -c x,,y|error : -c takes column names or indices (from 0) separated by commas, not x,,y"
    "option_not_for_format|order -c 0 ${KD}/four.txt|error : option -c does not apply to text input"
    "header_not_for_ply|order --header ${KD}/four_le.ply|error : option --header does not apply to ply input"
    "points_output_name|order --points -o out.txt|error : the output file of --points must end in .csv, .npy or .ply, not out.txt"
    "points_ply_output|order --points -o out.ply ${KD}/four.csv|error : --points writes a PLY file from a PLY input only, not to out.ply"
    "no_column_named|order -c z ${KD}/four.csv|error : ${KD}/four.csv has no column named z"
    "no_column_index|order -c 2 ${KD}/four.csv|error : ${KD}/four.csv has no column 2 (it has 2, counted from 0)"
    "column_twice|order -c x,0 ${KD}/four.csv|error : column 0 is picked twice"
    "ply_list_column|order -c near ${KD}/four_le.ply|error : the vertex property near of ${KD}/four_le.ply is a list, not a number"
    "ply_after_bytes|order ${KD}/four_le_long.ply|error : ${KD}/four_le_long.ply holds 2 bytes after its last element"
    "npz_archive|order ${KD}/not_zip.npz|error : ${KD}/not_zip.npz is not a .npz archive that can be read: no end of central directory record"
    "npz_checksum|order ${KD}/crc.npz|error : ${KD}/crc.npz is not a .npz archive that can be read: a member's data is corrupt (its deflate stream, size or checksum)"
    "npz_no_array|order ${KD}/empty.npz|error : ${KD}/empty.npz holds no array"
    "npz_many|order ${KD}/two.npz|error : ${KD}/two.npz holds 2 arrays (a, b): pick one with -a NAME"
    "npz_no_such_array|order -a c ${KD}/two.npz|error : ${KD}/two.npz holds no array named c"
    "npz_member_dtype|order ${KD}/int_member.npz|error : ${KD}/int_member.npz (array points) holds dtype '<i8'${DTYPE_LINE}"
    "not_npy|order --format npy ${KD}/four.csv|error : ${KD}/four.csv is not a NumPy array")
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 name)
  list(GET parts 1 args)
  list(GET parts 2 line)
  separate_arguments(args)
  kc(formats_${name} ARGS ${args} EXIT 1 LINE "${line}")
endforeach()
# Through standard input, text made here.
function(kc_text name format text line)
  kc(formats_${name} ARGS order --format ${format} ${ARGN} EXIT 1 INPUT_TEXT "${text}" LINE "${STDIN}${line}")
endfunction()
kc_text(unnamed_column csv ",x,y\n0,1,2\n" " line 1, column 0 has no name (an index? -c picks the columns to read)")
kc_text(name_twice csv "a,a\n1,2\n" " has more than one column named a" -c a)
kc_text(csv_ragged csv "x,y\n1,2\n\n3\n" " line 4 has 1 fields where the first row has 2")
kc_text(csv_empty csv "1,,2\n" " line 1, column 1 is empty")
kc_text(csv_quoted tsv "1\t\"2\"\n" " line 1, column 1 is quoted (quoted fields are not read)")
kc_text(csv_not_number table "x y\n1 two\n" " line 2, column 1: two is not a number")
kc_text(ply_not_ply ply "plx\n" " is not a PLY file: its first line is not 'ply'")
kc_text(ply_header ply "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nfoo\n"
        " line 5: not a PLY header: a line that is none of format, comment, obj_info, element, property, end_header")
kc_text(ply_no_vertex ply "ply\nformat ascii 1.0\nelement point 1\nproperty float x\nend_header\n1\n" " has no vertex element")
kc_text(ply_cut ply "${PLY_HEAD}1 0\n" " ends inside its vertex element" -c x)
kc_text(ply_after_text ply "${PLY_HEAD}1 0\n2 0\n3\n" " line 9: text after the last element" -c x)
kc_text(ply_value ply "${PLY_HEAD}1 0\n2x 0\n" " line 8: 2x is not a value of type float" -c x)
kc_text(ply_list_count ply "${PLY_HEAD}1 0\n2 -1\n" " has a list of a negative count in its vertex element" -c x)

# Under valgrind: the PLY walk and its vertices written again, a deflated
# archive, CSV a piece at a time, and a PLY refused after its walk.
if(COMMAND memcheck_case)
  memcheck_case(kcenter.points_ply PROGRAM kcenter ARGS order --points -o ${KC_OUT}/memcheck.ply ${KD}/four_ascii.ply
                EXIT 0 MATCH "")
  memcheck_case(kcenter.npz_deflated PROGRAM kcenter ARGS pair ${KD}/four_deflated.npz EXIT 0 MATCH "i,j,dist_sq\n1,3,34\n")
  memcheck_case(kcenter.csv_stdin PROGRAM kcenter ARGS order -k 2 --format csv EXIT 0 INPUT kcenter/four.csv
                MATCH "step,row,dist_sq\n0,0,inf\n1,1,25\n")
  memcheck_case(kcenter.ply_refused PROGRAM kcenter ARGS order -c y,x ${KD}/four_le_long.ply EXIT 1
                LINE "error : ${KD}/four_le_long.ply holds 2 bytes after its last element")
endif()
