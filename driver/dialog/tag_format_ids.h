/* The Tag Format dialog's template and control ids. Plain C definitions: the
 * resource compiler reads this file as well as the model and the front ends. */
#ifndef RODERAVO_TAG_FORMAT_IDS_H
#define RODERAVO_TAG_FORMAT_IDS_H

#define IDD_TAG_FORMAT 102

#define IDC_PLC_NUMBER 1018
#define IDC_PLC_SPIN 1019
#define IDC_FUNCTION_TAGS 1020
#define IDC_HELP_TAGS 1021
#define IDC_ATTRIBUTES 1022
#define IDC_SUBCOMMAND 1025
#define IDC_SUBCOMMAND_LABEL 1026
#define IDC_CAMERA_LABEL 1027
#define IDC_CAMERA 1028
#define IDC_HELP_LIST 1031
#define IDC_FUNCTION_LIST 1032

#endif
