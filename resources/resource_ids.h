/* Resource and control ids, shared by the resource script and the code.
   Plain C preprocessor only: the resource compiler reads this file too. */
#ifndef LUMO_RESOURCE_IDS_H
#define LUMO_RESOURCE_IDS_H

#define IDD_PROGRESS 103   /* the progress dialog */
#define IDI_INSTALLER 103  /* its icon group */
#define IDC_PROGRESS 1002  /* owner-drawn progress bar */
#define IDC_PROMPT 1003    /* prompt text; the staging folder is appended */

#define IDS_CORRUPT_PAYLOAD 2     /* the payload failed its checks */
#define IDS_COPY_ERROR_HEAD 3     /* copy error, text before the quoted path */
#define IDS_COPY_ERROR_TAIL 4     /* copy error, text after the quoted path */
#define IDS_DECOMPRESS_FAILED 5   /* the dialog ended without a verdict */
#define IDS_UNSAFE_STAGING_HEAD 6 /* staging folder is a link or another user's */
#define IDS_UNSAFE_STAGING_TAIL 7
#define IDS_NO_MEMORY 8           /* the container image could not be allocated */
#define IDS_START_FAILED_HEAD 9   /* the setup program could not be started */
#define IDS_START_FAILED_TAIL 10  /* before the system's reason */

#endif
