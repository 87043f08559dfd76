/* This is a generated file, edit the .stub.php file instead.
 * Stub hash: 9646ee91511784f1633deb6de89a8d5311647af5 */

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_bx_init, 0, 1, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, configuration, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_bx_done, 0, 1, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, handle, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_bx_new, 0, 2, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, handle, IS_STRING, 0)
	ZEND_ARG_TYPE_MASK(0, invoice, MAY_BE_STRING|MAY_BE_LONG, NULL)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_bx_add, 0, 4, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, handle, IS_STRING, 0)
	ZEND_ARG_TYPE_MASK(0, invoice, MAY_BE_STRING|MAY_BE_LONG, NULL)
	ZEND_ARG_TYPE_INFO(0, field, IS_STRING, 0)
	ZEND_ARG_TYPE_MASK(0, value, MAY_BE_STRING|MAY_BE_LONG, NULL)
ZEND_END_ARG_INFO()

#define arginfo_bx_delete arginfo_bx_new

#define arginfo_bx_auth arginfo_bx_new

#define arginfo_bx_return arginfo_bx_new

#define arginfo_bx_reverse arginfo_bx_new

#define arginfo_bx_sale arginfo_bx_new

#define arginfo_bx_void arginfo_bx_new

#define arginfo_bx_status arginfo_bx_new

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_bx_count, 0, 2, IS_LONG, 0)
	ZEND_ARG_TYPE_INFO(0, handle, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, status, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_bx_lookup, 0, 3, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, handle, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, status, IS_STRING, 0)
	ZEND_ARG_TYPE_MASK(0, index, MAY_BE_STRING|MAY_BE_LONG, NULL)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_bx_report, 0, 2, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, handle, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, type, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_bx_command, 0, 3, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, handle, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, command, IS_STRING, 0)
	ZEND_ARG_TYPE_MASK(0, argument, MAY_BE_STRING|MAY_BE_LONG, NULL)
ZEND_END_ARG_INFO()

#define arginfo_bx_textvalue arginfo_bx_done


ZEND_FUNCTION(bx_init);
ZEND_FUNCTION(bx_done);
ZEND_FUNCTION(bx_new);
ZEND_FUNCTION(bx_add);
ZEND_FUNCTION(bx_delete);
ZEND_FUNCTION(bx_auth);
ZEND_FUNCTION(bx_return);
ZEND_FUNCTION(bx_reverse);
ZEND_FUNCTION(bx_sale);
ZEND_FUNCTION(bx_void);
ZEND_FUNCTION(bx_status);
ZEND_FUNCTION(bx_count);
ZEND_FUNCTION(bx_lookup);
ZEND_FUNCTION(bx_report);
ZEND_FUNCTION(bx_command);
ZEND_FUNCTION(bx_textvalue);


static const zend_function_entry ext_functions[] = {
	ZEND_FE(bx_init, arginfo_bx_init)
	ZEND_FE(bx_done, arginfo_bx_done)
	ZEND_FE(bx_new, arginfo_bx_new)
	ZEND_FE(bx_add, arginfo_bx_add)
	ZEND_FE(bx_delete, arginfo_bx_delete)
	ZEND_FE(bx_auth, arginfo_bx_auth)
	ZEND_FE(bx_return, arginfo_bx_return)
	ZEND_FE(bx_reverse, arginfo_bx_reverse)
	ZEND_FE(bx_sale, arginfo_bx_sale)
	ZEND_FE(bx_void, arginfo_bx_void)
	ZEND_FE(bx_status, arginfo_bx_status)
	ZEND_FE(bx_count, arginfo_bx_count)
	ZEND_FE(bx_lookup, arginfo_bx_lookup)
	ZEND_FE(bx_report, arginfo_bx_report)
	ZEND_FE(bx_command, arginfo_bx_command)
	ZEND_FE(bx_textvalue, arginfo_bx_textvalue)
	ZEND_FE_END
};
