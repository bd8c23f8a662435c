# cmake -DSOURCE=<launch_probe.sh> -DOUTPUT=<file> -P make_launch_probe.cmake
# The probe script followed by 512 KiB of fixed pseudo-random text, which
# the shell never reaches: it stops at the script's exit.
file(READ ${SOURCE} script)
string(RANDOM LENGTH 524288 RANDOM_SEED 20240917 padding)
file(WRITE ${OUTPUT} "${script}${padding}")
